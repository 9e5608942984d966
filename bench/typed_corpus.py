#!/usr/bin/env python3
"""Usage: bench/typed_corpus.py OUTDIR

Builds the evaluation text for bench/typed_eval.py from Vietnamese text that
Debian ships, and splits every source but iso-names in two: OUTDIR/tuning.txt, the part the
typed reader's evidence weights were tuned on, and OUTDIR/heldout.txt, the
part they were not.  The sources, each split the same way:

  maint-guide   /usr/share/doc/maint-guide-vi/maint-guide.vi.txt.gz (package
                maint-guide-vi, the Debian New Maintainers' Guide): prose with
                commands, file names and package names; first half / second.
  manpages      /usr/share/man/vi/man*/ (package manpages-vi), rendered as text
                by groff; files alternate between the two parts.
  catalogues    /usr/share/locale/vi/LC_MESSAGES/*.mo but iso_*, the msgstr
                texts as msgunfmt (gettext) prints them; files alternate.
  iso-names     the iso_* catalogues of the same folder (package iso-codes):
                names of countries, their subdivisions, languages, scripts and
                currencies, many of them foreign names in their own spelling
                (Ávila, Paraná) that no reader of typed VIQR can tell from
                punctuation; kept apart so that they can be reported apart.
  descriptions  Debian's Vietnamese package descriptions, the Translation-vi
                index that apt fetches with Acquire::Languages=vi; halves.

Each part of each source is also written alone, as OUTDIR/tuning-NAME.txt
and OUTDIR/heldout-NAME.txt.  Missing sources are skipped with a note on standard error.  Empty lines are
kept (they carry paragraph breaks) but the evaluation does not count them.
"""
import glob
import gzip
import os
import re
import subprocess
import sys


def note(message):
    print(f"typed_corpus: {message}", file=sys.stderr)


def halves(lines):
    middle = len(lines) // 2
    return lines[:middle], lines[middle:]


def maint_guide():
    path = "/usr/share/doc/maint-guide-vi/maint-guide.vi.txt.gz"
    if not os.path.exists(path):
        note(f"no {path} (apt-get install maint-guide-vi)")
        return [], []
    with gzip.open(path, "rt", encoding="utf-8") as f:
        return halves(f.read().splitlines())


def render_man(path):
    source = subprocess.run(["zcat", path], capture_output=True).stdout
    result = subprocess.run(["groff", "-Kutf8", "-man", "-Tutf8", "-rHY=0", "-rLL=78n", "-P-c", "-P-b", "-P-u"],
                            input=source, capture_output=True)
    return result.stdout.decode("utf-8", "replace").splitlines()


def manpages():
    files = sorted(glob.glob("/usr/share/man/vi/man*/*.gz"))
    if not files:
        note("no /usr/share/man/vi (apt-get install manpages-vi)")
    tuning, heldout = [], []
    for i, path in enumerate(files):
        (tuning if i % 2 == 0 else heldout).extend(render_man(path) + [""])
    return tuning, heldout


def po_strings(text):
    """The msgstr texts of a PO file, each cut into its lines."""
    out = []
    current = None
    for line in text.splitlines():
        if line.startswith("msgstr"):
            current = [line[line.index('"'):]] if '"' in line else []
        elif line.startswith('"') and current is not None:
            current.append(line)
        else:
            if current:
                out.append(current)
            current = None
    if current:
        out.append(current)
    lines = []
    for parts in out:
        joined = "".join(eval(p) for p in parts)  # C-style string literals
        if joined:
            lines.extend(joined.split("\n"))
            lines.append("")
    return lines


def catalogue_files(iso):
    files = sorted(glob.glob("/usr/share/locale/vi/LC_MESSAGES/*.mo"))
    return [f for f in files if os.path.basename(f).startswith("iso_") == iso]


def catalogues(iso=False):
    files = catalogue_files(iso)
    tuning, heldout = [], []
    for i, path in enumerate(files):
        result = subprocess.run(["msgunfmt", path], capture_output=True)
        if result.returncode != 0:
            note(f"msgunfmt failed on {path}")
            continue
        (tuning if i % 2 == 0 else heldout).extend(po_strings(result.stdout.decode("utf-8", "replace")))
    return tuning, heldout


def descriptions():
    paths = glob.glob("/var/lib/apt/lists/*Translation-vi*")
    if not paths:
        note("no Translation-vi index (apt-get update -o Acquire::Languages=vi)")
        return [], []
    text = subprocess.run(["/usr/lib/apt/apt-helper", "cat-file", paths[0]], capture_output=True).stdout.decode()
    lines = []
    for block in text.split("\n\n"):
        m = re.search(r"^Description-vi: (.*(?:\n .*)*)", block, re.M)
        if not m:
            continue
        for line in m.group(1).split("\n"):
            line = line[1:] if line.startswith(" ") else line
            lines.append("" if line == "." else line)
        lines.append("")
    return halves(lines)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    tuning, heldout = [], []
    sources = [("maint-guide", maint_guide), ("manpages", manpages), ("catalogues", catalogues),
               ("descriptions", descriptions), ("iso-names", lambda: catalogues(iso=True))]
    for name, source in sources:
        t, h = source()
        note(f"{name}: {sum(1 for l in t if l.strip())} tuning lines, {sum(1 for l in h if l.strip())} held-out lines")
        for part, lines in [("tuning", t), ("heldout", h)]:
            with open(os.path.join(outdir, f"{part}-{name}.txt"), "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
        if name == "iso-names":
            continue  # reported apart, not part of tuning.txt and heldout.txt
        tuning += t + [""]
        heldout += h + [""]
    for name, lines in [("tuning.txt", tuning), ("heldout.txt", heldout)]:
        with open(os.path.join(outdir, name), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
