#!/usr/bin/env python3
"""Usage: bench/typed_speed.py [--build DIR] [--rounds N] TEXT...

Times the typed reader on real text: the UTF-8 Vietnamese TEXT files (for
instance what bench/typed_corpus.py gathers) typed once as people type VIQR
(see bench/typed_eval.py), not repeated, so that words come back only as
often as they do in the text.  Each round runs, in turn, the strict reader
(toneup -u), the typed reader (toneup -u -t) and, where installed,
recode VIQR..UTF-8 on the same bytes; the script prints for each the median
processor time (user + system) over the rounds, the speed it makes, the
ratio to toneup -u and the peak memory (maximum resident set).

Processor time rather than wall time, so that other work on the machine
weighs less; each program's start-up is included (a millisecond or so), so
use a few MB of text.  The peak memory is measured by GNU time
(/usr/bin/time)."""
import argparse
import os
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


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("texts", nargs="+")
    args = parser.parse_args()
    toneup = f"{args.build}/bin/toneup"
    sys.path.insert(0, HERE)
    import typed_eval

    lines = []
    for name in args.texts:
        with open(name, encoding="utf-8") as f:
            lines += [typed_eval.type_line(l) for l in f.read().splitlines()]
    readers = [("toneup -u", [toneup, "-u"]), ("toneup -u -t", [toneup, "-u", "-t"])]
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
    for name, _ in readers:
        t = statistics.median(times[name])
        print(f"  {name:<20} {t * 1000:8.1f} ms  {size / 1e6 / t:7.1f} MB/s  {t / strict:5.2f} x toneup -u"
              f"  {memory[name]:6d} KiB peak")


if __name__ == "__main__":
    main()
