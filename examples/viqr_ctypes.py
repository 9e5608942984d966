#!/usr/bin/env python3
"""Drives the viqr shared library from Python through ctypes.

    viqr_ctypes.py LIBRARY VISCII_FILE VIQR_FILE

LIBRARY is libviqr.so.1; VISCII_FILE a VISCII text and VIQR_FILE what
tonedown writes for it.  The script encodes the one and decodes the other
through the library, in chunks, and checks the decoder's contexts, the
option pre-parser, the UTF-8 conversions and a TCVN3 converter the way a
program in any language would call them.  It prints one line per check and exits 1 if any
failed.
"""
import ctypes
import sys
import unicodedata

MODE_VIETNAMESE, MODE_ENGLISH, MODE_LITERAL = 0, 1, 2
STATE_HOLDING = 5
PARAM_STATE, PARAM_COMPOSE_CHAR, PARAM_OVERSTRIKE_CHAR, PARAM_HOLD = 1, 2, 4, 8
MAX_CONTEXTS = 3
BACKSLASH, BACKSPACE = 0x5C, 0x08


def encoder_output_size(length):
    return 4 * length + 2


class EncoderHistory(ctypes.Structure):
    _fields_ = [("previous", ctypes.c_ubyte)]


# The UTF-8 structures, field for field as viqr.h declares them: ctypes lays
# them out as the C compiler does.  The library sets them up; Python only
# allocates them and reads the reports.
class Utf8Report(ctypes.Structure):
    _fields_ = [("input", ctypes.c_char_p), ("offset", ctypes.c_ulonglong)]


class Utf8Scan(ctypes.Structure):
    _fields_ = [("input", ctypes.c_char_p), ("offset", ctypes.c_ulonglong), ("serial", ctypes.c_uint),
                ("reported", ctypes.c_ubyte), ("bytes", ctypes.c_ubyte * 4), ("have", ctypes.c_ubyte),
                ("need", ctypes.c_ubyte), ("sequence_input", ctypes.c_char_p),
                ("sequence_offset", ctypes.c_ulonglong), ("sequence_serial", ctypes.c_uint),
                ("sequence_input_reported", ctypes.c_ubyte), ("reports", Utf8Report * 2),
                ("report_count", ctypes.c_int)]


class FromUtf8State(ctypes.Structure):
    _fields_ = [("composition_char", ctypes.c_ubyte), ("mode", ctypes.c_int), ("previous", ctypes.c_ubyte),
                ("letter", ctypes.c_ubyte), ("scan", Utf8Scan)]


class ToUtf8State(ctypes.Structure):
    _fields_ = [("context", ctypes.c_int), ("stand_in", ctypes.c_ubyte), ("scan", Utf8Scan)]


# The loss report of a converter, field for field as viqr.h declares it.
class LossReport(ctypes.Structure):
    _fields_ = [("unwritable", ctypes.c_ulonglong), ("unwritable_first", ctypes.c_ulong),
                ("unwritable_line", ctypes.c_ulonglong), ("unwritable_column", ctypes.c_ulonglong),
                ("substitutes", ctypes.c_int), ("undefined", ctypes.c_ulonglong),
                ("undefined_offset", ctypes.c_ulonglong), ("undefined_byte", ctypes.c_ubyte),
                ("undefined_substitute", ctypes.c_ulong)]


def convert_output_size(length):
    return 12 * (length + 256)


def from_utf8_output_size(length):
    return 4 * length + 16


def to_utf8_output_size(length):
    return 6 * length + 16


def load(path):
    lib = ctypes.CDLL(path)
    uchar_p = ctypes.POINTER(ctypes.c_ubyte)
    int_p = ctypes.POINTER(ctypes.c_int)
    signatures = {
        "viqr_parse_options": (None, [int_p, ctypes.POINTER(ctypes.c_char_p), uchar_p, uchar_p]),
        "viqr_open": (ctypes.c_int, [ctypes.c_int, ctypes.c_ubyte, ctypes.c_ubyte]),
        "viqr_feed": (ctypes.c_int, [ctypes.c_int, ctypes.c_ubyte, uchar_p, int_p]),
        "viqr_feed_chunk": (ctypes.c_size_t, [ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t, uchar_p]),
        "viqr_flush": (None, [ctypes.c_int, uchar_p, int_p]),
        "viqr_close": (None, [ctypes.c_int, uchar_p, int_p]),
        "viqr_query": (None, [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]),
        "viqr_set": (None, [ctypes.c_int, ctypes.c_int, ctypes.c_int]),
        "viqr_viscii_to_viqr": (ctypes.c_size_t, [ctypes.c_char_p, ctypes.c_size_t, uchar_p, ctypes.c_ubyte,
                                                  ctypes.c_int, ctypes.POINTER(EncoderHistory)]),
        "viqr_utf8_begin_input": (None, [ctypes.POINTER(Utf8Scan), ctypes.c_char_p]),
        "viqr_utf8_take_report": (ctypes.c_int, [ctypes.POINTER(Utf8Scan), ctypes.POINTER(Utf8Report)]),
        "viqr_from_utf8_start": (None, [ctypes.POINTER(FromUtf8State), ctypes.c_ubyte, ctypes.c_int]),
        "viqr_from_utf8": (ctypes.c_size_t, [ctypes.POINTER(FromUtf8State), ctypes.c_char_p, ctypes.c_size_t,
                                             uchar_p]),
        "viqr_from_utf8_finish": (ctypes.c_size_t, [ctypes.POINTER(FromUtf8State), uchar_p]),
        "viqr_to_utf8_start": (None, [ctypes.POINTER(ToUtf8State), ctypes.c_int]),
        "viqr_to_utf8": (ctypes.c_size_t, [ctypes.POINTER(ToUtf8State), ctypes.c_char_p, ctypes.c_size_t, uchar_p]),
        "viqr_to_utf8_finish": (ctypes.c_size_t, [ctypes.POINTER(ToUtf8State), uchar_p]),
        "viqr_looks_like_utf8": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_size_t]),
        "viqr_encoding_lookup": (ctypes.c_int, [ctypes.c_char_p]),
        "viqr_converter_open": (ctypes.c_void_p, [ctypes.c_int, ctypes.c_int, ctypes.c_int]),
        "viqr_convert": (ctypes.c_size_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, uchar_p]),
        "viqr_convert_finish": (ctypes.c_size_t, [ctypes.c_void_p, uchar_p]),
        "viqr_convert_losses": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(LossReport)]),
        "viqr_converter_close": (None, [ctypes.c_void_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def encode(lib, viscii, chunk):
    """VIQR for `viscii` as tonedown writes it: the mode announcement, then
    every chunk with the history carried across."""
    history = EncoderHistory(0)
    out = (ctypes.c_ubyte * encoder_output_size(chunk))()
    viqr = bytearray(b"\\V")
    for at in range(0, len(viscii), chunk):
        piece = viscii[at:at + chunk]
        n = lib.viqr_viscii_to_viqr(piece, len(piece), out, BACKSLASH, MODE_VIETNAMESE, ctypes.byref(history))
        viqr += bytes(out[:n])
    return bytes(viqr)


def decode(lib, viqr, chunk):
    """VISCII for `viqr` as toneup writes it: one context, hold on."""
    handle = lib.viqr_open(MODE_VIETNAMESE, BACKSLASH, BACKSPACE)
    if handle < 0:
        raise RuntimeError("no decoder context was free")
    lib.viqr_set(handle, 1, PARAM_HOLD)
    out = (ctypes.c_ubyte * (2 * chunk))()
    viscii = bytearray()
    for at in range(0, len(viqr), chunk):
        piece = viqr[at:at + chunk]
        viscii += bytes(out[:lib.viqr_feed_chunk(handle, piece, len(piece), out)])
    count = ctypes.c_int(0)
    lib.viqr_close(handle, out, ctypes.byref(count))
    viscii += bytes(out[:count.value])
    return bytes(viscii)


def from_utf8(lib, text, chunk, mode=MODE_VIETNAMESE):
    """VIQR for the UTF-8 `text` as tonedown -u writes it, without the mode
    announcement, and the reports of invalid UTF-8 as (name, offset)."""
    state = FromUtf8State()
    lib.viqr_from_utf8_start(ctypes.byref(state), BACKSLASH, mode)
    return utf8_conversion(lib, state, text, chunk, from_utf8_output_size, lib.viqr_from_utf8,
                           lib.viqr_from_utf8_finish)


def to_utf8(lib, viqr, chunk):
    """UTF-8 for `viqr` as toneup -u writes it: a context, hold on."""
    handle = lib.viqr_open(MODE_VIETNAMESE, BACKSLASH, BACKSPACE)
    if handle < 0:
        raise RuntimeError("no decoder context was free")
    lib.viqr_set(handle, 1, PARAM_HOLD)
    state = ToUtf8State()
    lib.viqr_to_utf8_start(ctypes.byref(state), handle)
    try:
        return utf8_conversion(lib, state, viqr, chunk, to_utf8_output_size, lib.viqr_to_utf8,
                               lib.viqr_to_utf8_finish)
    finally:
        lib.viqr_close(handle, None, None)


def utf8_conversion(lib, state, data, chunk, output_size, convert, finish):
    name = b"text"  # the library keeps the pointer: the bytes object must outlive the reports
    lib.viqr_utf8_begin_input(ctypes.byref(state.scan), name)
    out = (ctypes.c_ubyte * output_size(chunk))()
    result = bytearray()
    reports = []
    report = Utf8Report()
    for at in range(0, len(data), chunk):
        piece = data[at:at + chunk]
        result += bytes(out[:convert(ctypes.byref(state), piece, len(piece), out)])
        while lib.viqr_utf8_take_report(ctypes.byref(state.scan), ctypes.byref(report)):
            reports.append((report.input, report.offset))
    result += bytes(out[:finish(ctypes.byref(state), out)])
    while lib.viqr_utf8_take_report(ctypes.byref(state.scan), ctypes.byref(report)):
        reports.append((report.input, report.offset))
    return bytes(result), reports


def convert(lib, source, target, data, chunk):
    """`data` from the encoding `source` to `target` through a converter, in
    chunks; returns the output and the loss report."""
    converter = lib.viqr_converter_open(lib.viqr_encoding_lookup(source), lib.viqr_encoding_lookup(target), 0)
    out = (ctypes.c_ubyte * convert_output_size(chunk))()
    result = bytearray()
    for at in range(0, len(data), chunk):
        piece = data[at:at + chunk]
        result += bytes(out[:lib.viqr_convert(converter, piece, len(piece), out)])
    result += bytes(out[:lib.viqr_convert_finish(converter, out)])
    report = LossReport()
    lib.viqr_convert_losses(converter, ctypes.byref(report))
    lib.viqr_converter_close(converter)
    return bytes(result), report


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    lib = load(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        viscii = f.read()
    with open(sys.argv[3], "rb") as f:
        viqr = f.read()

    passed = failed = 0

    def check(what, condition):
        nonlocal passed, failed
        print(("ok     " if condition else "FAILED ") + what)
        passed += bool(condition)
        failed += not condition

    for chunk in (1, 7, 4096):
        check(f"encoding {sys.argv[2]} in chunks of {chunk} gives {sys.argv[3]}", encode(lib, viscii, chunk) == viqr)
        check(f"decoding {sys.argv[3]} in chunks of {chunk} gives {sys.argv[2]}", decode(lib, viqr, chunk) == viscii)

    # One byte at a time, with the state viqr_feed returns and the count it
    # writes through a pointer.
    handle = lib.viqr_open(MODE_VIETNAMESE, BACKSLASH, BACKSPACE)
    lib.viqr_set(handle, 1, PARAM_HOLD)
    area = (ctypes.c_ubyte * 2)()
    count = ctypes.c_int(-1)
    states = [lib.viqr_feed(handle, b, area, ctypes.byref(count)) for b in b"a^"]
    check("a letter waiting for its marks is held", states == [STATE_HOLDING, STATE_HOLDING] and count.value == 0)
    lib.viqr_feed(handle, ord("'"), area, ctypes.byref(count))
    check("its tone completes it", count.value == 1 and area[0] == 0xA4)

    state = ctypes.c_int(-1)
    lib.viqr_set(handle, ord("#"), PARAM_COMPOSE_CHAR)
    lib.viqr_feed(handle, ord("#"), area, ctypes.byref(count))
    lib.viqr_feed(handle, ord("M"), area, ctypes.byref(count))
    lib.viqr_query(handle, ctypes.byref(state), PARAM_STATE)
    check("a set composition character switches the mode", state.value == MODE_ENGLISH)
    composition = ctypes.c_ubyte(0)
    lib.viqr_query(handle, ctypes.byref(composition), PARAM_COMPOSE_CHAR)
    check("the query reads back the composition character", composition.value == ord("#"))

    others = [lib.viqr_open(MODE_ENGLISH, BACKSLASH, BACKSPACE) for _ in range(MAX_CONTEXTS)]
    check("three contexts at most", others[-1] == -1 and sorted(others[:-1] + [handle]) == [0, 1, 2])
    for h in [handle] + others[:-1]:
        lib.viqr_close(h, None, None)
    check("a handle that is not open is refused", lib.viqr_feed(handle, ord("a"), area, None) == -1)

    args = [b"prog", b"a", b"-com", b"#", b"-bs", b"\\101", b"b"]
    argv = (ctypes.c_char_p * (len(args) + 1))(*args, None)
    argc = ctypes.c_int(len(args))
    com, bs = ctypes.c_ubyte(BACKSLASH), ctypes.c_ubyte(BACKSPACE)
    lib.viqr_parse_options(ctypes.byref(argc), argv, ctypes.byref(com), ctypes.byref(bs))
    check("the pre-parser takes out -com and -bs with their values",
          argv[:argc.value] == [b"prog", b"a", b"b"] and argv[argc.value] is None
          and com.value == ord("#") and bs.value == ord("A"))

    # UTF-8: Python's own normalization gives the decomposed form.
    nfc = "Ti\u1EBFng Vi\u1EC7t, \u0111\u1EA5t n\u01B0\u1EDBc \u201Cta\u201D"
    nfd = unicodedata.normalize("NFD", nfc)
    viqr_text = "Tie^'ng Vie^.t, dda^'t nu+o+'c \u201Cta\u201D".encode()
    for chunk in (1, 4096):
        check(f"from_utf8 in chunks of {chunk}: NFC and NFD give the same VIQR",
              from_utf8(lib, nfc.encode(), chunk) == (viqr_text, [])
              and from_utf8(lib, nfd.encode(), chunk) == (viqr_text, []))
        check(f"to_utf8 in chunks of {chunk} through a context gives NFC",
              to_utf8(lib, viqr_text, chunk) == (nfc.encode(), []))
    check("invalid UTF-8 is copied and its first byte reported",
          from_utf8(lib, b"a\xFFb\xFE", 2) == (b"a\xFFb\xFE", [(b"text", 1)]))
    check("looks_like_utf8 tells UTF-8 from VISCII",
          lib.viqr_looks_like_utf8(nfc.encode(), len(nfc.encode())) == 1
          and lib.viqr_looks_like_utf8(viscii, len(viscii)) == 0)

    # TCVN3, the encoding of most old Vietnamese web pages: read, and written
    # with its capitals with a tone as small letters, reported.
    tcvn3 = "Ti\u1EBFng Vi\u1EC7t".encode()
    for chunk in (1, 4096):
        check(f"TCVN3 read in chunks of {chunk}",
              convert(lib, b"tcvn3", b"utf-8", b"Ti\xD5ng Vi\xD6t", chunk)[0] == tcvn3)
    written, report = convert(lib, b"utf-8", b"TCVN3", "B\u00C1O C\u00C1O".encode(), 3)
    check("a capital with a tone goes into TCVN3 as its small letter, and is reported",
          written == b"B\xB8O C\xB8O" and report.unwritable == 2 and report.unwritable_first == 0xC1
          and (report.unwritable_line, report.unwritable_column) == (1, 2))

    print(f"ctypes: {passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
