#!/usr/bin/env python3
"""Usage: bench/typed_eval.py [--build DIR] [--show N] FILE...

Writes UTF-8 Vietnamese text out the way people type VIQR (every letter as
its base letter, then a shape mark, then a tone mark; đ as dd; nothing
escaped), reads it back with the typed reader (toneup -u -t), the strict
reader (toneup -u) and, where installed, recode VIQR..UTF-8, and prints for
each the share of lines that differ from the original.  Empty lines are kept
in the text but not counted.

Until toneup has -u (UTF-8 output), the script reads through VISCII instead:
toneup -t and toneup, their output turned into UTF-8 by iconv -f VISCII.  It
then types typographic punctuation as a person typing 7-bit VIQR would (no-
break space as a space, curly quotes and guillemets as " and ', dashes as -,
the ellipsis as ...), in the text and in the original it compares with, and
counts only the lines that VISCII can then represent; any other character of
the lines it does not count becomes # in the text read, so that their
neighbours keep their context.  It says so in its output.

--show N prints the first N lines that the typed reader gets wrong, as
original / typed / read back.

--compare DIR reads the text with DIR/bin/toneup -u -t as well and lists
the lines that one of the two typed readers gets right and the other wrong:
what a change to the reader did, line by line.

--tonedown writes the text with tonedown instead (VISCII through the VISCII
fallback, escapes and the mode announcement included): how the typed reader
does on what tonedown writes, beside the strict reader, which reads it back
exactly.
"""
import argparse
import shutil
import subprocess
import sys
import unicodedata

SHAPES = {"\u0306": "(", "\u0302": "^", "\u031b": "+"}
TONES = {"\u0301": "'", "\u0300": "`", "\u0309": "?", "\u0303": "~", "\u0323": "."}
VIETNAMESE_SHAPES = {"a": "(^", "e": "^", "o": "^+", "u": "+"}


def type_char(c):
    if c == "đ":
        return "dd"
    if c == "Đ":
        return "DD"
    decomposed = unicodedata.normalize("NFD", c)
    base, marks = decomposed[0], decomposed[1:]
    if not marks or base.lower() not in "aeiouy" or any(m not in SHAPES and m not in TONES for m in marks):
        return c
    shape = "".join(SHAPES[m] for m in marks if m in SHAPES)
    tone = "".join(TONES[m] for m in marks if m in TONES)
    if len(shape) > 1 or len(tone) > 1 or (shape and shape not in VIETNAMESE_SHAPES.get(base.lower(), "")):
        return c  # a letter Vietnamese does not write (ñ, ǎ, ṹ)
    return base + shape + tone


def type_line(line):
    return "".join(type_char(c) for c in line)


ASCII_TYPING = {"\u00a0": " ", "\u2007": " ", "\u202f": " ", "\u2009": " ", "\u201c": '"', "\u201d": '"',
                "\u201e": '"', "\u00ab": '"', "\u00bb": '"', "\u2018": "'", "\u2019": "'", "\u2039": "'",
                "\u203a": "'", "\u2013": "-", "\u2014": "-", "\u2212": "-", "\u2026": "...", "\u00b7": "."}


def type_punctuation(line):
    return "".join(ASCII_TYPING.get(c, c) for c in line)


def viscii_can_hold(line):
    return all(ord(c) < 128 or type_char(c) != c for c in line)


def hide_unheld(line):
    return "".join(c if ord(c) < 128 or type_char(c) != c else "#" for c in line)


def run(command, data):
    result = subprocess.run(command, input=data, capture_output=True)
    return result.returncode, result.stdout


def has_utf8_flag(toneup):
    code, _ = run([toneup, "-u"], b"")
    return code == 0


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--build", default="build")
    parser.add_argument("--show", type=int, default=0)
    parser.add_argument("--tonedown", action="store_true")
    parser.add_argument("--compare", metavar="DIR")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    toneup = f"{args.build}/bin/toneup"

    lines = []
    for name in args.files:
        with open(name, encoding="utf-8") as f:
            lines += f.read().splitlines()
    lines = [unicodedata.normalize("NFC", l) for l in lines]
    utf8 = has_utf8_flag(toneup)
    counted = [i for i, l in enumerate(lines) if l.strip()]
    if not utf8:
        total = len(counted)
        lines = [type_punctuation(l) for l in lines]
        counted = [i for i in counted if viscii_can_hold(lines[i])]
        lines = [l if viscii_can_hold(l) else hide_unheld(l) for l in lines]
        print(f"toneup has no -u yet: reading through VISCII (toneup -t | iconv -f VISCII -t UTF-8),"
              f" typographic punctuation typed in ASCII; counting the {len(counted)} of {total} lines"
              f" that VISCII can then hold")
    typed = "\n".join(type_line(l) for l in lines) + "\n"
    data = typed.encode("utf-8")
    if args.tonedown:
        viscii = subprocess.run(["iconv", "-f", "UTF-8", "-t", "VISCII"], input=("\n".join(lines) + "\n").encode(),
                                capture_output=True).stdout
        data = subprocess.run([f"{args.build}/bin/tonedown"], input=viscii, capture_output=True).stdout
        print("read from what tonedown writes")

    readers = []
    if utf8:
        readers.append(("toneup -u -t", [toneup, "-u", "-t"], None))
        readers.append(("toneup -u", [toneup, "-u"], None))
    else:
        readers.append(("toneup -t", [toneup, "-t"], "viscii"))
        readers.append(("toneup", [toneup], "viscii"))
    if shutil.which("recode") and not args.tonedown:
        readers.append(("recode VIQR..UTF-8", ["recode", "VIQR..UTF-8"], None))

    print(f"{len(counted)} lines, {len(data)} bytes typed")
    first = None
    for name, command, via in readers:
        code, out = run(command, data)
        if via == "viscii":
            text = out.decode("latin-1").encode("latin-1")
            iconv = subprocess.run(["iconv", "-f", "VISCII", "-t", "UTF-8"], input=text, capture_output=True)
            out = iconv.stdout
        got = out.decode("utf-8", "replace").split("\n")
        if len(got) < len(lines):
            got += [""] * (len(lines) - len(got))
        wrong = [i for i in counted if unicodedata.normalize("NFC", got[i]) != lines[i]]
        share = 100.0 * len(wrong) / max(1, len(counted))
        print(f"  {name:<20} {len(wrong):6d} lines wrong  {share:6.2f}%" + ("" if code == 0 else f"  (exit {code})"))
        if first is None:
            first = (wrong, got)
    if args.compare and first and utf8:
        wrong, got = first
        _, out = run([f"{args.compare}/bin/toneup", "-u", "-t"], data)
        other = out.decode("utf-8", "replace").split("\n")
        other += [""] * max(0, len(lines) - len(other))
        now_wrong = set(wrong)
        before_wrong = {i for i in counted if unicodedata.normalize("NFC", other[i]) != lines[i]}
        print(f"\nagainst {args.compare}: {len(before_wrong - now_wrong)} lines mended,"
              f" {len(now_wrong - before_wrong)} lines broken")
        for i in sorted(now_wrong - before_wrong):
            print(f"  broken: {lines[i]}\n     now: {got[i]}")
        for i in sorted(before_wrong - now_wrong)[: args.show]:
            print(f"  mended: {lines[i]}\n  before: {other[i]}")
    if args.show and first:
        wrong, got = first
        print(f"\nlines the typed reader gets wrong (first {args.show}):")
        for i in wrong[: args.show]:
            print(f"  - {lines[i]}\n    {type_line(lines[i])}\n  + {got[i]}")


if __name__ == "__main__":
    main()
