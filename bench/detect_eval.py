#!/usr/bin/env python3
"""Usage: bench/detect_eval.py [--part tuning|heldout] [--detector CMD] [--max N] OUTDIR

Measures encoding detection on real text and prints the confusion tables.

Vietnamese text: bench/typed_corpus.py's sources (maint-guide-vi, manpages-vi,
the vi .mo catalogues; the iso-names are left out: they are mostly foreign
names).  The detector's weights were tuned on the "tuning" part; "heldout"
(the default) is the text they never saw.  The text is put into every form
that detection names:

  utf-8, utf-8-nfd        Python's own codecs (NFD by unicodedata)
  viscii, vn1, cp1258     glibc iconv (VISCII, TCVN5712-1, CP1258)
  vni, vps, viqr          GNU recode (VNI, VPS, VIQR)
  tcvn3                   VN1's bytes for the lower-case letters and the seven
                          bare capitals (recode's TCVN), capitals with a tone
                          written as their lower-case letter as the ABC fonts
                          did, Windows-1252 punctuation in 0x80..0x9F
  utf-8-as-cp1252         the UTF-8 bytes read as Windows-1252, saved as UTF-8
  tcvn3-as-cp1252,        the legacy bytes read as Windows-1252, saved as
  vni-as-cp1252           UTF-8
(Windows-1252's five undefined bytes come through as U+0081 and so on.)  A
character the form cannot hold becomes "?".

Other text: the fr, de, es, pt and pl .mo catalogues and man pages (packages
manpages-fr and so on), in UTF-8 and in their own code pages (cp1252 and
latin-1; cp1250 and latin-2 for Polish), and English man pages rendered as
ASCII.  Files alternate between the tuning and the held-out part as for the
Vietnamese text.

Every stream is cut into samples of 200 and 1,000 bytes, each starting at the
start of a line.  A detected name counts as right when writing the sample's
text in that form gives the sample's bytes (so vn1 is right for TCVN3 text
that uses only what the two share), or utf-8 for utf-8-nfd (the same reader);
samples with no Vietnamese letter may also be named "ascii" (when they are
plain ASCII) or "unknown".  For other languages, naming any
Vietnamese legacy form, a mojibake form, or UTF-8 for bytes that are not
UTF-8 is a false alarm; "unknown", "ascii" and the true form are right.

The detector is run as CMD FILE... (default: "toneconv --detect") and must
print one line a file, "FILE: NAME ...".
"""
import argparse
import collections
import glob
import os
import shlex
import subprocess
import sys
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import typed_corpus  # noqa: E402

SIZES = (200, 1000)
VIETNAMESE_FORMS = ["utf-8", "utf-8-nfd", "viscii", "tcvn3", "vn1", "vni", "vps", "cp1258", "viqr",
                    "utf-8-as-cp1252", "tcvn3-as-cp1252", "vni-as-cp1252"]
CP1252_UNDEFINED = {0x81, 0x8D, 0x8F, 0x90, 0x9D}


def note(message):
    print(f"detect_eval: {message}", file=sys.stderr)


# --- Oracles, one character at a time, remembered ------------------------------------------

def oracle(command):
    """One character through iconv or recode; None when it cannot write it."""
    def encode(ch):
        r = subprocess.run(command, input=ch.encode(), capture_output=True)
        return r.stdout if r.returncode == 0 and r.stdout else None
    return encode


def cp1252_byte(ch):
    if ord(ch) in CP1252_UNDEFINED:
        return bytes([ord(ch)])
    try:
        return ch.encode("cp1252")
    except UnicodeEncodeError:
        return None


def cp1252_text(data):
    """Bytes shown as Windows-1252, the five undefined ones as U+0081 and so on."""
    return "".join(chr(b) if b in CP1252_UNDEFINED else bytes([b]).decode("cp1252") for b in data)


VN1 = oracle(["iconv", "-f", "UTF-8", "-t", "TCVN5712-1"])
VNI = oracle(["recode", "utf-8..VNI"])
TONES = {"\u0300", "\u0301", "\u0303", "\u0309", "\u0323"}


def tcvn3_char(ch):
    if unicodedata.category(ch) == "Lu" and TONES & set(unicodedata.normalize("NFD", ch)):
        ch = ch.lower()  # no capitals with a tone in TCVN3: the fonts drew them from the lower-case letters
    b = VN1(ch)
    if b is not None and (b[0] >= 0xA0 or (len(b) == 1 and 0x20 <= b[0] < 0x80)):
        return b
    b = cp1252_byte(ch)
    return b if b is not None and 0x80 <= b[0] < 0xA0 else None


def via_cp1252(encode):
    return lambda ch: None if encode(ch) is None else cp1252_text(encode(ch)).encode("utf-8")


# Each form as a function of one character (beyond ASCII) to its bytes, or None.
CHAR_ENCODERS = {
    "utf-8": lambda ch: ch.encode("utf-8"),
    "utf-8-nfd": lambda ch: unicodedata.normalize("NFD", ch).encode("utf-8"),
    "viscii": oracle(["iconv", "-f", "UTF-8", "-t", "VISCII"]),
    "vn1": VN1,
    "cp1258": oracle(["iconv", "-f", "UTF-8", "-t", "CP1258"]),
    "vni": VNI,
    "vps": oracle(["recode", "utf-8..VPS"]),
    "viqr": oracle(["recode", "utf-8..VIQR"]),
    "tcvn3": tcvn3_char,
    "utf-8-as-cp1252": lambda ch: cp1252_text(ch.encode("utf-8")).encode("utf-8"),
    "tcvn3-as-cp1252": via_cp1252(tcvn3_char),
    "vni-as-cp1252": via_cp1252(VNI),
}
KNOWN = {form: {} for form in CHAR_ENCODERS}


def char_bytes(form, ch):
    if ch < "\x80" and form != "viqr":
        return ch.encode()
    known = KNOWN[form]
    if ch not in known:
        b = CHAR_ENCODERS[form](ch)
        known[ch] = b if b is not None else b"?"
    return known[ch]


def encode(form, text):
    if form == "utf-8":
        return text.encode("utf-8")
    if form == "viqr":  # escapes depend on the letter before: the whole text at once
        return subprocess.run(["recode", "-f", "utf-8..VIQR"], input=text.encode(), capture_output=True).stdout
    return b"".join(char_bytes(form, ch) for ch in text)


def covered_text(form, text, size):
    """The characters whose bytes begin within the first `size` bytes."""
    n = 0
    for i, ch in enumerate(text):
        if n >= size:
            return text[:i]
        n += len(char_bytes(form, ch))
    return text


# --- Text ----------------------------------------------------------------------------------

def vietnamese_text(part):
    index = 0 if part == "tuning" else 1
    lines = []
    for source in (typed_corpus.maint_guide, typed_corpus.manpages, typed_corpus.catalogues):
        lines += source()[index] + [""]
    return "\n".join(unicodedata.normalize("NFC", l) for l in lines)


def other_language_text(lang, part, budget=600_000):
    index = 0 if part == "tuning" else 1
    lines = []
    mos = sorted(glob.glob(f"/usr/share/locale/{lang}/LC_MESSAGES/*.mo"))
    for i, path in enumerate(mos):
        if i % 2 != index or os.path.basename(path).startswith("iso_"):
            continue
        r = subprocess.run(["msgunfmt", path], capture_output=True)
        if r.returncode == 0:
            lines += typed_corpus.po_strings(r.stdout.decode("utf-8", "replace"))
        if sum(map(len, lines)) > budget // 2:
            break
    mans = sorted(glob.glob(f"/usr/share/man/{lang}/man*/*.gz"))
    for i, path in enumerate(mans):
        if i % 2 != index:
            continue
        lines += typed_corpus.render_man(path) + [""]
        if sum(map(len, lines)) > budget:
            break
    if not lines:
        note(f"no text for {lang} (apt-get install manpages-{lang})")
    return "\n".join(unicodedata.normalize("NFC", l) for l in lines)


def english_text(part, budget=600_000):
    index = 0 if part == "tuning" else 1
    lines = []
    for i, path in enumerate(sorted(glob.glob("/usr/share/man/man1/*.gz"))):
        if i % 2 != index:
            continue
        source = subprocess.run(["zcat", path], capture_output=True).stdout
        r = subprocess.run(["groff", "-man", "-Tascii", "-rLL=78n", "-P-c", "-P-b", "-P-u"], input=source,
                           capture_output=True)
        lines += r.stdout.decode("ascii", "replace").splitlines() + [""]
        if sum(map(len, lines)) > budget:
            break
    return "\n".join(lines)


def samples(form, text, size, limit, encoder=None):
    """(text, bytes) pairs: `size` bytes of the text in `form` from the start of a line, the text they
    cover; at most `limit`, spread evenly over the text."""
    lines = text.split("\n")
    starts = [i for i, l in enumerate(lines) if l.strip()]
    step = max(1, len(starts) // (limit * 2))
    out = []
    i = 0
    while i < len(starts) and len(out) < limit:
        chunk, n, j = [], 0, starts[i]
        while j < len(lines) and n < size + 2:
            chunk.append(lines[j])
            n += len(lines[j]) + 1
            j += 1
        piece = "\n".join(chunk)
        data = encoder(piece) if encoder else encode(form, piece)
        if len(data) >= size:
            out.append((covered_text(form, piece, size) if not encoder else piece, data[:size]))
            while i < len(starts) and starts[i] < j:  # the next sample starts after this one
                i += step
        else:
            i += step
    return out


# --- Running the detector --------------------------------------------------------------------

def detect(command, paths):
    answers = {}
    for k in range(0, len(paths), 400):
        batch = paths[k:k + 400]
        r = subprocess.run(shlex.split(command) + batch, capture_output=True)
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            name, _, rest = line.rpartition(": ") if " (" not in line else line.partition(": ")
            answers[name] = rest.split()[0] if rest.split() else "?"
    return [answers.get(p, "?") for p in paths]


VIETNAMESE_MARKS = {"\u0300", "\u0301", "\u0303", "\u0309", "\u0323", "\u0306", "\u0302", "\u031b"}


def is_vietnamese_letter(ch):
    if ch in "đĐ":
        return True
    d = unicodedata.normalize("NFD", ch)
    return len(d) > 1 and d[0].isascii() and d[0].isalpha() and set(d[1:]) <= VIETNAMESE_MARKS


def as_written(form, text):
    """The text as the form holds it: what it cannot write, as "?"."""
    if form in ("utf-8", "utf-8-nfd", "utf-8-as-cp1252", "viqr"):
        return text
    return "".join(ch if ch < "\x80" or char_bytes(form, ch) != b"?" else "?" for ch in text)


def right_for_vietnamese(form, answer, text, data):
    """Right: the true form, or a form that writes the same text as these bytes; for a sample without a
    Vietnamese letter also ascii (plain ASCII) or unknown (no evidence)."""
    if answer == form or (form == "utf-8-nfd" and answer == "utf-8"):
        return True
    if not any(is_vietnamese_letter(ch) for ch in text):
        if answer == "unknown" or (answer == "ascii" and data.isascii()):
            return True
    if answer not in CHAR_ENCODERS:
        return False
    written = as_written(form, text)
    return encode(answer, written)[:len(data)] == data


def right_for_other(form, answer):
    return answer in ("unknown", "ascii") or answer == form


def table(title, rows):
    """rows: form -> Counter of answers, plus count right."""
    print(f"\n{title}")
    columns = sorted({a for counts, _ in rows.values() for a in counts})
    width = max(8, *(len(c) for c in columns))
    print(f"{'':17}" + "".join(f"{c:>{width + 1}}" for c in columns) + f"{'right':>9}")
    for form, (counts, right) in rows.items():
        total = sum(counts.values())
        share = 100.0 * right / total if total else 0.0
        print(f"{form:17}" + "".join(f"{counts.get(c, 0):>{width + 1}}" for c in columns) + f"{share:>8.2f}%")


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--part", choices=["tuning", "heldout"], default="heldout")
    parser.add_argument("--detector", default="toneconv --detect")
    parser.add_argument("--max", type=int, default=2000, help="samples per form and size")
    parser.add_argument("outdir")
    args = parser.parse_args()

    vi = vietnamese_text(args.part)
    others = {lang: other_language_text(lang, args.part) for lang in ("fr", "de", "es", "pt", "pl")}
    english = english_text(args.part)
    other_forms = []
    for lang, text in others.items():
        pages = ["cp1250", "iso-8859-2"] if lang == "pl" else ["cp1252", "iso-8859-1"]
        other_forms.append((f"{lang} utf-8", "utf-8", text, lambda t: t.encode("utf-8")))
        for page in pages:
            other_forms.append((f"{lang} {page}", page, text, lambda t, p=page: t.encode(p, "replace")))
    other_forms.append(("en ascii", "ascii", english, lambda t: t.encode("ascii", "replace")))

    failures = []
    for size in SIZES:
        jobs = []  # (row, kind, form, text, data)
        for form in VIETNAMESE_FORMS:
            jobs += [(form, "vi", form, t, d) for t, d in samples(form, vi, size, args.max)]
        for row, form, text, encoder in other_forms:
            jobs += [(row, "other", form, t, d) for t, d in samples(form, text, size, args.max // 4, encoder)]
        folder = os.path.join(args.outdir, str(size))
        os.makedirs(folder, exist_ok=True)
        paths = []
        for n, (_, _, _, _, data) in enumerate(jobs):
            path = os.path.join(folder, f"{n:06}")
            with open(path, "wb") as f:
                f.write(data)
            paths.append(path)
        answers = detect(args.detector, paths)
        vi_rows, other_rows = {}, {}
        for (row, kind, form, text, data), answer, path in zip(jobs, answers, paths):
            if kind == "vi":
                right = right_for_vietnamese(form, answer, text, data)
                target = vi_rows.setdefault(row, [collections.Counter(), 0])
            else:
                right = right_for_other(form, answer)
                target = other_rows.setdefault(row, [collections.Counter(), 0])
            target[0][answer] += 1
            target[1] += right
            if not right:
                failures.append(f"{size} {row}: {answer} {path}")
        table(f"Vietnamese text, {size}-byte samples ({args.part} part): true form by detected name", vi_rows)
        table(f"Other languages, {size}-byte samples ({args.part} part)", other_rows)
    with open(os.path.join(args.outdir, "failures.txt"), "w") as f:
        f.write("\n".join(failures) + "\n")
    print(f"\n{len(failures)} samples named wrong; listed in {os.path.join(args.outdir, 'failures.txt')}")


if __name__ == "__main__":
    main()
