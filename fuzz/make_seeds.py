#!/usr/bin/env python3
"""Usage: fuzz/make_seeds.py

Writes the seed corpora fuzz/corpus/<target>/ of the fuzz targets.  Each
seed is laid out the way libFuzzer's FuzzedDataProvider takes its input apart:
integers, choices and flags are taken from the end of the input one after
another, strings and the remaining text from the front.  A seed is built by
saying, in the order in which a target asks, what each answer should be.

The composition characters of fuzz_roundtrip are picked from a list that
excludes the VISCII letters among the controls; this script learns those from
the system's iconv."""
import pathlib
import subprocess

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = (HERE.parent / "sample" / "thu-gui-ban-doc.viscii").read_bytes()
# VIQR text as toneup usually reads it.
SAMPLE_VIQR = (b"\\VTho+ gu+?i ba.n ddo.c: Chu'ng to^i ra^'t vui mu+`ng ddu+o+.c gu+?i dde^'n ca'c ba.n "
               b"nhu+~ng tin tu+'c mo+'i nha^'t ve^` Vie^.t Nam. Ha`nh tri`nh cu?a chu'ng ta ba('t dda^`u.\n")


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order taken, first taken first

    def in_range(self, value, low, high):
        span, offset, raw = high - low, 0, value - low
        assert 0 <= raw <= span
        width = 0
        while (span >> offset) > 0:
            width += 1
            offset += 8
        self.back += raw.to_bytes(width, "big")  # the first byte taken is the most significant
        return self

    def byte(self, value):
        return self.in_range(value, 0, 255)

    def flag(self, value):
        return self.byte(1 if value else 0)

    def pick(self, index, size):
        return self.in_range(index, 0, size - 1)

    def string(self, text):
        assert len(text) <= 16
        self.front += text.replace(b"\\", b"\\\\")
        if len(text) < 16:
            self.front += b"\\."  # a backslash and another byte end the string
        return self

    def text(self, text):
        self.front += text
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, seeds):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for name, seed in seeds.items():
        (folder / name).write_bytes(seed.bytes())


ALL_BYTES = bytes(range(256))
PAIRS = b"Dd\xf0a'\xe2'\xe2a\\o+\xe2.\xd0dA(i^e(\xc1(\xe1'" + b"\x14?\x00\x07"

# fuzz_options: fill, composition and overstrike characters, then arguments.
OPTION_WORDS = [b"-com", b"-bs", b"", b"-comx", b"-COM", b"--com", b"-b", b"-bsx", b"-v", b"-m", b"-"]


def options_seed(args):
    s = Seed().byte(0xA5).byte(ord("\\")).byte(8)
    for a in args:
        if a in OPTION_WORDS:
            s.in_range(0, 0, 3).pick(OPTION_WORDS.index(a), len(OPTION_WORDS))
        elif a.startswith(b"\\"):
            s.in_range(1, 0, 3).string(a[1:])
        else:
            s.in_range(2, 0, 3).string(a)
    return s


write("fuzz_options", {
    "no-arguments": Seed(),
    "name-only": options_seed([b"toneup"]),
    "com-between-files": options_seed([b"tonedown", b"a", b"-com", b"#", b"-m", b"b"]),
    "octal-values": options_seed([b"toneup", b"-com", b"\\101", b"-bs", b"\\ -1", b"-com", b"\\777777777777777"]),
    "no-digits": options_seed([b"toneup", b"-com", b"\\", b"-bs", b"\\9x"]),
    "option-as-value": options_seed([b"toneup", b"-bs", b"-com", b"-com", b"-bs"]),
    "empty-value": options_seed([b"toneup", b"-com", b"", b"file", b"-bs"]),
    "near-misses": options_seed([b"toneup", b"-comx", b"-COM", b"--com", b"-b", b"-bsx", b"-"]),
})

# fuzz_encoder: mode choice (0 Vietnamese, 3 English, 6 Literal, 7 none),
# composition character, chunk sizes, text.


def encoder_seed(mode_choice, composition_char, chunks, text):
    s = Seed().in_range(mode_choice, 0, 7).byte(composition_char).in_range(len(chunks), 0, 8)
    for c in chunks:
        s.in_range(c, 0, 1100)
    return s.text(text)


write("fuzz_encoder", {
    "sample-vietnamese": encoder_seed(0, ord("\\"), [1023, 1], SAMPLE[:1500]),
    "sample-english": encoder_seed(3, ord("#"), [100], SAMPLE[:600]),
    "all-bytes-vietnamese": encoder_seed(0, ord("\\"), [1, 2, 3], ALL_BYTES),
    "all-bytes-english": encoder_seed(3, 0xE1, [], ALL_BYTES),
    "pairs-one-byte-chunks": encoder_seed(0, ord("\\"), [1] * 8, PAIRS),
    "shaped-then-mark-english": encoder_seed(3, ord("\\"), [1, 1, 1], b"\xe2'\xe2a\xc2D\xdfy"),
    "literal-mode": encoder_seed(6, ord("\\"), [], b"abc"),
    "no-mode": encoder_seed(7, ord("\\"), [], b"abc"),
})

# fuzz_decoder: a script of calls.
DECODER_MODES = 10   # size of the mode list of fuzz_decoder's open()
HANDLES = 10         # size of its handle list
SET_VALUES = 10 - 1  # size of its value list
OPEN, SET, QUERY, FLUSH, CLOSE, FEED_CHUNK, FEED = 0, 1, 2, 3, 4, 5, 7


class Script(Seed):
    def open(self, mode_index, composition_char=ord("\\"), overstrike_char=8):
        return self.in_range(OPEN, 0, 9).pick(mode_index, DECODER_MODES).byte(composition_char).byte(overstrike_char)

    def set(self, handle_index, value, selector):
        self.in_range(SET, 0, 9).pick(handle_index, HANDLES).flag(False)
        self.in_range(value, -2**31, 2**31 - 1)
        return self.byte(selector)

    def query(self, handle_index, selector):
        return self.in_range(QUERY, 0, 9).pick(handle_index, HANDLES).byte(selector)

    def flush(self, handle_index, into_area=True):
        return self.in_range(FLUSH, 0, 9).pick(handle_index, HANDLES).flag(into_area)

    def close(self, handle_index, into_area=True):
        return self.in_range(CLOSE, 0, 9).pick(handle_index, HANDLES).flag(into_area)

    def feed_chunk(self, handle_index, text):
        for i in range(0, len(text), 64):
            part = text[i:i + 64]
            self.in_range(FEED_CHUNK, 0, 9).pick(handle_index, HANDLES).in_range(len(part), 0, 64)
            self.front += part  # a chunk's bytes come from the front
        return self

    def feed(self, handle_index, text):
        for i in range(0, len(text), 16):
            part = text[i:i + 16]
            self.in_range(FEED, 0, 9).pick(handle_index, HANDLES).in_range(len(part), 1, 16)
            for b in part:
                self.byte(b)
        return self


V, E, L = 0, 1, 2  # mode indices; 6 is -1, 7 STATE_ESCAPE
HOLD, STATE, COMPOSE = 8, 1, 2

write("fuzz_decoder", {
    "vietnamese-hold": Script().open(V).set(0, 1, HOLD).feed(0, b"Vie^.t Nam a^' dd u+o+' a\\' \\\\ i^ a").flush(0),
    "vietnamese-overstrike": Script().open(V).feed(0, b"Vie^.t Nam a^' DD i^").close(0),
    "english": Script().open(E).set(0, 1, HOLD).feed(0, b"a' \\a' \\ye^~n \\a'e' \\ae' \\n \\Va'").flush(0),
    "literal": Script().open(L).feed(0, b"\\a' \\\\ \\Va'\\L\\").flush(0).flush(0, False),
    "three-contexts": Script().open(V).open(E).open(L).open(V).close(1).open(V, ord("#"))
        .feed(1, b"#a'").feed(0, b"a").feed(2, b"\\").query(6, STATE).close(7).flush(8),
    "set-state-while-holding": Script().open(V).set(0, 1, HOLD).feed(0, b"a").set(0, 1, STATE).feed(0, b"a'")
        .set(0, 7, STATE).set(0, 0x123, COMPOSE).query(0, 0).query(0, 6).query(0, 16),
    "mode-letter-composition": Script().open(V, ord("l")).set(0, 1, HOLD).feed(0, b"la'l").set(0, 1, STATE),
    "invalid-opens": Script().open(6).open(7).feed(3, b"a").set(9, 1, HOLD).query(9, STATE),
    "chunks-as-toneup-feeds": Script().open(V).set(0, 1, HOLD).feed_chunk(0, SAMPLE_VIQR[:200])
        .feed_chunk(0, b"a").feed_chunk(0, b"^").feed_chunk(0, b"'\\").feed_chunk(0, b"Mu+o+' \\Va\\\\").flush(0),
    "chunks-every-mode": Script().open(E).open(L).open(V, ord("#")).feed_chunk(0, b"\\a' \\ye^~n \\Vd")
        .feed_chunk(0, b"d").feed_chunk(1, b"\\a' \\Va'").set(2, 1, HOLD).feed_chunk(2, b"Vie^.t #a#' i^")
        .feed_chunk(7, b"a'"),
})

# fuzz_roundtrip: mode, composition character, decoder's initial mode, the
# encoder's and the decoder's chunk sizes, text.


def viscii_letters_among_controls():
    """The control codes that VISCII makes letters, as iconv reads them."""
    letters = []
    for b in range(0x20):
        text = subprocess.run(["iconv", "-f", "VISCII", "-t", "UTF-8"], input=bytes([b]),
                              capture_output=True, check=True).stdout.decode("utf-8")
        if text.isalpha():
            letters.append(b)
    assert len(letters) == 6, letters
    return letters


C0_LETTERS = viscii_letters_among_controls()
MARKS = b"(^+'`?~."
ORDINARY = [b for b in range(0x80)
            if not chr(b).isalpha() and b not in MARKS and b not in C0_LETTERS]
assert len(ORDINARY) == 62


def two_way_seed(english, composition_char, initial_mode, way_chunks, largest_chunk, text):
    """The input of fuzz_roundtrip and fuzz_utf8, which read it alike: the
    mode, the composition character, the decoder's initial mode, the chunk
    sizes of each way (up to 8 sizes of at most `largest_chunk`), the text."""
    s = Seed().flag(english).pick(ORDINARY.index(composition_char), len(ORDINARY)).in_range(initial_mode, 0, 2)
    for chunks in way_chunks:
        s.in_range(len(chunks), 0, 8)
        for c in chunks:
            s.in_range(c, 0, largest_chunk)
    return s.text(text)


def roundtrip_seed(english, composition_char, initial_mode, encoder_chunks, decoder_chunks, text):
    return two_way_seed(english, composition_char, initial_mode, (encoder_chunks, decoder_chunks), 1100, text)


write("fuzz_roundtrip", {
    "sample-vietnamese": roundtrip_seed(False, ord("\\"), 0, [1023], [1024], SAMPLE[:1500]),
    "sample-english": roundtrip_seed(True, ord("\\"), 2, [7], [3], SAMPLE[:600]),
    "all-bytes-vietnamese": roundtrip_seed(False, ord("#"), 1, [1, 1], [], ALL_BYTES),
    "all-bytes-english": roundtrip_seed(True, 0x00, 0, [], [5], ALL_BYTES),
    "pairs": roundtrip_seed(False, ord("\\"), 0, [1] * 8, [2] * 8, PAIRS),
    "pairs-english": roundtrip_seed(True, ord("\\"), 0, [1] * 8, [1] * 8, PAIRS + b"\xe2'\xe2a\xc2D\xdfy\xe2\\"),
})

# fuzz_utf8: mode, composition character, decoder's initial mode, the chunk
# sizes of tonedown -u and of toneup -u, UTF-8 text.
SAMPLE_UTF8 = subprocess.run(["iconv", "-f", "VISCII", "-t", "UTF-8"], input=SAMPLE, capture_output=True,
                             check=True).stdout
SAMPLE_NFD = __import__("unicodedata").normalize("NFD", SAMPLE_UTF8.decode("utf-8")).encode("utf-8")
MIXED_UTF8 = ("\u201cA\u0306n qu\u1ea3 nh\u01a1\u0301\u201d \u2014 5\u20ac \u65e5\u672c \U0001f600 \u00a0\ufeff "
              "a\u0301\u0302 e\u0308 o\u0323\u031b \u00e2\u0301 a\u0341 \\ #").encode("utf-8")
INVALID_UTF8 = b"a\x80b\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe1\xbaa\xff\x02\x14'\xe1\xbb\x87\xcc"


def utf8_seed(english, composition_char, initial_mode, down_chunks, up_chunks, text):
    return two_way_seed(english, composition_char, initial_mode, (down_chunks, up_chunks), 300, text)


write("fuzz_utf8", {
    "sample-nfc": utf8_seed(False, ord("\\"), 0, [200, 1], [300], SAMPLE_UTF8[:1200]),
    "sample-nfd-english": utf8_seed(True, ord("#"), 2, [1, 2, 3], [7], SAMPLE_NFD[:800]),
    "beyond-viscii": utf8_seed(False, ord("\\"), 1, [1] * 8, [2] * 8, MIXED_UTF8),
    "beyond-viscii-english": utf8_seed(True, ord("@"), 0, [5, 5], [1] * 8, MIXED_UTF8),
    "invalid": utf8_seed(False, ord("\\"), 0, [1, 2, 3, 4], [3, 3, 3], INVALID_UTF8),
    "all-bytes": utf8_seed(True, ord("#"), 0, [100], [1, 1], ALL_BYTES),
    # E1 BB cut short at bytes 61 and 62 of a 64-byte block, before a lead
    # at byte 63: the blocks once read the lead as its third byte.
    "cut-at-a-block-end": utf8_seed(False, ord("\\"), 0, [39, 90], [], b"a" * 61 + b"\xe1\xbb\xc4\x91" + b"a" * 150),
})

# fuzz_wide: direction (0 tonedown, 1 toneup, 2 tonedown -u, 3 toneup -u), a
# flag for the backslash as composition character or else the character,
# chunk sizes, and the text as choices among the direction's plain pieces
# (a choice of 240 or more is one of sixteen awkward pieces).
def wide_seed(direction, composition_char, chunks, choices):
    s = Seed().in_range(direction, 0, 3)
    if composition_char == ord("\\"):
        s.flag(True)
    else:
        s.flag(False).byte(composition_char)
    s.in_range(len(chunks), 0, 4)
    for c in chunks:
        s.in_range(c, 0, 3000)
    return s.text(choices)


PLAIN_CHOICES = bytes((i * 7 + i // 13) % 240 for i in range(2600))
SOME_OF_ANY_KIND = bytes(b if i % 97 else 240 + i % 16 for i, b in enumerate(PLAIN_CHOICES))

write("fuzz_wide", {
    "tonedown": wide_seed(0, ord("\\"), [1000], PLAIN_CHOICES),
    "toneup": wide_seed(1, ord("\\"), [700, 3], PLAIN_CHOICES),
    "tonedown-u": wide_seed(2, ord("#"), [], SOME_OF_ANY_KIND),
    "toneup-u": wide_seed(3, ord("\\"), [1500], SOME_OF_ANY_KIND),
})

# fuzz_typed: -u or not, the decoder's initial mode, the backslash or another
# composition character, the chunk sizes, the typed text.
TYPED_RULES = ("Vie^.t Nam. No^.i. va^.y? dda^u? ca`c ha?t Hello. I'm 1\\.3 cu+\\. \\\\ C:\\Videos\\ nhe'.\n"
               "www.google.com a@yahoo.com libfoo.so.1 A.1. va`/hoa(.c HDDND 50.000dd add DDR3 DD. Le^ Lo+.i\n"
               "'ba.n co' ddi kho^ng' `po' ra. To^i ddi.\n\nra. to^i vi' du. dda^`u tu+. Ka? no' ko. ca^/x ha(.txt\n"
               "\\Mco' \\Lco' \\lceil x\\rceil Go~ \\L ro^`i \\vddi huo+'ng dduo+.c %sMa~ Co+~Ta^.p Ko^ng\n").encode()


def typed_seed(utf8, mode, composition_char, chunks, text):
    s = Seed().flag(utf8).in_range(mode, 0, 2)
    if composition_char == ord("\\"):
        s.flag(True)
    else:
        s.flag(False).pick(ORDINARY.index(composition_char), len(ORDINARY))
    s.in_range(len(chunks), 0, 8)
    for c in chunks:
        s.in_range(c, 0, 300)
    return s.text(text)


write("fuzz_typed", {
    "prose": typed_seed(False, 0, ord("\\"), [100, 1, 2], SAMPLE_VIQR),
    "rules": typed_seed(False, 0, ord("\\"), [7, 13, 64], TYPED_RULES),
    "rules-utf8": typed_seed(True, 0, ord("\\"), [5, 300], TYPED_RULES + "(dda^`u \u2014 tu+.) \u00ab\\L\u00bb".encode()),
    "other-composition-char": typed_seed(False, 0, ord("#"), [3], TYPED_RULES.replace(b"\\", b"#")),
    "escape-before-beyond-ascii": typed_seed(True, 1, ord("\\"), [1, 1, 1], "\\\u00e9V add \\a' x".encode()),
    "literal": typed_seed(True, 2, ord("\\"), [2], "\\\u00e9V add \\Vdda^u".encode()),
    "long-tokens": typed_seed(False, 0, ord("\\"), [95, 2], b"x" * 95 + b"\\Mco' " + b"a'e'i'o'u'" * 30 + b" dd" * 20),
    "all-bytes": typed_seed(False, 0, ord("\\"), [50], ALL_BYTES),
})


# fuzz_codecs: the source and target among the encodings the registry reads
# and writes (in its order), a flag for English mode, chunk sizes, the text.
READABLE = ["utf-8", "utf-8-nfd", "ncr", "viqr", "viqr-typed", "viscii", "viscii-1.0", "tcvn3", "vn1", "vni",
            "vps", "cp1258"]
WRITABLE = [e for e in READABLE if e != "viqr-typed"]


def codecs_seed(source, target, chunks, text):
    s = Seed().pick(READABLE.index(source), len(READABLE)).pick(WRITABLE.index(target), len(WRITABLE))
    s.flag(False).in_range(len(chunks), 0, 8)
    for c in chunks:
        s.in_range(c, 0, 5000)
    return s.text(text)


write("fuzz_codecs", {
    "viscii-to-utf8": codecs_seed("viscii", "utf-8", [100, 1], SAMPLE[:1200]),
    "utf8-to-tcvn3": codecs_seed("utf-8", "tcvn3", [1, 2, 3], SAMPLE_UTF8[:900]),
    "nfd-to-vni": codecs_seed("utf-8", "vni", [7, 7], SAMPLE_NFD[:900]),
    "mixed-to-cp1258": codecs_seed("utf-8", "cp1258", [1] * 8, MIXED_UTF8),
    "invalid-to-ncr": codecs_seed("utf-8", "ncr", [1, 3], INVALID_UTF8),
    "all-bytes-vni": codecs_seed("vni", "utf-8-nfd", [10, 1], ALL_BYTES),
    "all-bytes-vps": codecs_seed("vps", "vn1", [], ALL_BYTES),
    "all-bytes-cp1258": codecs_seed("cp1258", "viqr", [5], ALL_BYTES),
    "references": codecs_seed("ncr", "utf-8", [2, 2, 2], b"&#7879; &#x1EC7; &#x; &#0; &&#65; &#1114112;"),
    "viqr-typed": codecs_seed("viqr-typed", "tcvn3", [4], SAMPLE_VIQR),
})
