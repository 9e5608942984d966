#!/usr/bin/env python3
"""Drives the viqr shared library from Python through ctypes.

    viqr_ctypes.py LIBRARY VISCII_FILE VIQR_FILE

LIBRARY is libviqr.so.1; VISCII_FILE a VISCII text and VIQR_FILE what
tonedown writes for it.  The script encodes the one and decodes the other
through the library, in chunks, and checks the decoder's contexts and the
option pre-parser the way a program in any language would call them.  It
prints one line per check and exits 1 if any failed.
"""
import ctypes
import sys

MODE_VIETNAMESE, MODE_ENGLISH, MODE_LITERAL = 0, 1, 2
STATE_HOLDING = 5
PARAM_STATE, PARAM_COMPOSE_CHAR, PARAM_OVERSTRIKE_CHAR, PARAM_HOLD = 1, 2, 4, 8
MAX_CONTEXTS = 3
BACKSLASH, BACKSPACE = 0x5C, 0x08


def encoder_output_size(length):
    return 4 * length + 2


class EncoderHistory(ctypes.Structure):
    _fields_ = [("previous", ctypes.c_ubyte)]


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

    print(f"ctypes: {passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
