#!/usr/bin/env python3
"""Usage: bench/typed_speed.py [--build DIR] [--compare DIR] [--rounds N] TEXT...
       bench/typed_speed.py [--build DIR] [--compare DIR] [--rounds N] --worst

Times the typed reader on real text: the UTF-8 Vietnamese TEXT files (for
instance what bench/typed_corpus.py gathers) typed once as people type VIQR
(see bench/typed_eval.py), not repeated, so that words come back only as
often as they do in the text.  Each round runs, in turn, the strict reader
(toneup -u), the typed reader (toneup -u -t) and, where installed,
recode VIQR..UTF-8 on the same bytes; the script prints for each the median
processor time (user + system) over the rounds, the speed it makes, the
ratio to toneup -u and the peak memory (maximum resident set).

--worst times toneup -u -t instead on inputs built to be hard for it (the
ten-join word, long runs of marks, long tokens, runs of d, random soup of
vowels and marks, each a few MB) and prints the speed of each: the slowest
is the reader's worst case that we know of.

--compare DIR times DIR/bin/toneup -u -t as well, in the same rounds (the
two builds in turn, so that both see the same load): another build of the
reader, such as the code before a change.

Processor time rather than wall time, so that other work on the machine
weighs less; each program's start-up is included (a millisecond or so), so
use a few MB of text.  The peak memory is measured by GNU time
(/usr/bin/time)."""
import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def processor_time(argv, path):
    """Processor seconds (user + system) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(path, "rb") as src:
        subprocess.run(argv, stdin=src, stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def peak_memory(argv, path):
    """Peak memory (KiB) of one run, by GNU time: the program's own, not
    that of this script, which a fork copies."""
    with open(path, "rb") as src:
        result = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdin=src, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, check=True)
    return int(result.stderr.decode().split()[-1])


WORST_SIZE = 4_000_000


def repeated(piece):
    return (piece * (WORST_SIZE // len(piece) + 1))[:WORST_SIZE]


def soup(alphabet, seed):
    rng = random.Random(seed)
    return bytes(rng.choice(alphabet) for _ in range(WORST_SIZE))


# Inputs built to make the reader work hard, by name.
WORST_CASES = [
    ("ten-join word", lambda: repeated(b"a'e'i'o'u'a'e'i'o'u'-")),
    ("ten-join words", lambda: repeated(b"a'e'i'o'u'a'e'i'o'u' ")),
    ("run of marks", lambda: repeated(b"a" + b"'`?~.(^+" * 64)),
    ("marks between spaces", lambda: repeated(b"a^(+'`?~. ")),
    ("long token", lambda: repeated(b"ddu+o+.cNo^.i.tie^'ng/Vie^.t")),
    ("run of d", lambda: repeated(b"d" * 40 + b" ")),
    ("twenty-d words", lambda: repeated(b"dd" * 10 + b"a ")),
    ("vowel and mark soup", lambda: soup(b"aeiouyAEIOUYd'`?~.(^+\\ ", 1)),
    ("vowel and mark soup, no spaces", lambda: soup(b"aeiouyd'`?~.(^+", 2)),
    ("letter soup", lambda: soup(b"abcdeghiklmnopqrstuvxyADGNT'`?~.(^+-/@:. \n", 3)),
]


def worst(toneups, rounds):
    print(f"toneup -u -t on hostile inputs of {WORST_SIZE / 1e6:.0f} MB, {rounds} rounds, medians of processor time"
          + ("" if len(toneups) == 1 else f"; MB/s of {' and of '.join(toneups)}"))
    with tempfile.TemporaryDirectory() as work:
        for name, make in WORST_CASES:
            path = os.path.join(work, "worst")
            with open(path, "wb") as f:
                f.write(make())
            times = {toneup: [] for toneup in toneups}
            for _ in range(rounds):
                for toneup in toneups:
                    times[toneup].append(processor_time([toneup, "-u", "-t"], path))
            speeds = "  ".join(f"{WORST_SIZE / 1e6 / statistics.median(times[t]):7.1f}" for t in toneups)
            print(f"  {name:<32} {speeds} MB/s")


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--worst", action="store_true")
    parser.add_argument("--compare", metavar="DIR")
    parser.add_argument("texts", nargs="*")
    args = parser.parse_args()
    toneup = f"{args.build}/bin/toneup"
    if args.worst:
        return worst([toneup] + ([f"{args.compare}/bin/toneup"] if args.compare else []), args.rounds)
    if not args.texts:
        parser.error("no TEXT")
    sys.path.insert(0, HERE)
    import typed_eval

    lines = []
    for name in args.texts:
        with open(name, encoding="utf-8") as f:
            lines += [typed_eval.type_line(l) for l in f.read().splitlines()]
    readers = [("toneup -u", [toneup, "-u"]), ("toneup -u -t", [toneup, "-u", "-t"])]
    if args.compare:
        readers.append((f"{args.compare}: toneup -u -t", [f"{args.compare}/bin/toneup", "-u", "-t"]))
    if shutil.which("recode"):
        readers.append(("recode VIQR..UTF-8", ["recode", "VIQR..UTF-8"]))
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "typed.viqr")
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        size = os.path.getsize(path)
        times = {name: [] for name, _ in readers}
        for _ in range(args.rounds):
            for name, argv in readers:
                times[name].append(processor_time(argv, path))
        memory = {name: peak_memory(argv, path) for name, argv in readers}
    print(f"typed VIQR of {', '.join(os.path.basename(t) for t in args.texts)}: {size / 1e6:.2f} MB, "
          f"{args.rounds} rounds, medians of processor time")
    strict = statistics.median(times["toneup -u"])
    width = max(20, *(len(name) for name, _ in readers))
    for name, _ in readers:
        t = statistics.median(times[name])
        print(f"  {name:<{width}} {t * 1000:8.1f} ms  {size / 1e6 / t:7.1f} MB/s  {t / strict:5.2f} x toneup -u"
              f"  {memory[name]:6d} KiB peak")


if __name__ == "__main__":
    main()
