#!/usr/bin/env python3
"""Usage: bench/typed_speed.py [BUILD_DIR] [MEGABYTES] [TEXT...]

toneup -t beside the strict toneup on the same VIQR, in pairs: each round runs
the strict reader and then the typed reader on the file, and the script
prints both medians over the rounds (5), the median of the per-round ratios,
and the processor time (user + system) of each.  The text is the VIQR that
tonedown writes from MEGABYTES MiB (100 by default) of the benchmark text
(bench/make_input.sh, the bundled sample repeated); with TEXT files, it is
also typed VIQR made from them (UTF-8 Vietnamese, typed as people type it,
see bench/typed_eval.py) repeated to the same size, a text whose words repeat
less than the sample's."""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROUNDS = 5


def timed(argv, path):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    with open(path, "rb") as src, open(os.devnull, "wb") as sink:
        subprocess.run(argv, stdin=src, stdout=sink, check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def compare(name, toneup, path):
    strict, typed, ratios, strict_cpu, typed_cpu = [], [], [], [], []
    for _ in range(ROUNDS):
        s, sc = timed([toneup], path)
        t, tc = timed([toneup, "-t"], path)
        strict.append(s)
        typed.append(t)
        ratios.append(t / s)
        strict_cpu.append(sc)
        typed_cpu.append(tc)
    size = os.path.getsize(path)
    print(f"{name}: {size / 1e6:.1f} MB, {ROUNDS} paired runs (medians)")
    print(f"  toneup      {statistics.median(strict):7.3f} s wall  {statistics.median(strict_cpu):7.3f} s cpu")
    print(f"  toneup -t   {statistics.median(typed):7.3f} s wall  {statistics.median(typed_cpu):7.3f} s cpu")
    print(f"  ratio       {statistics.median(ratios):7.2f} (wall, median of the rounds)"
          f"  {statistics.median(typed_cpu) / statistics.median(strict_cpu):.2f} (cpu)")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    mb = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    texts = sys.argv[3:]
    toneup, tonedown = f"{build}/bin/toneup", f"{build}/bin/tonedown"
    with tempfile.TemporaryDirectory() as work:
        viscii, viqr = os.path.join(work, "big.viscii"), os.path.join(work, "big.viqr")
        subprocess.run([os.path.join(HERE, "make_input.sh"), str(mb), viscii], check=True)
        with open(viscii, "rb") as src, open(viqr, "wb") as dst:
            subprocess.run([tonedown], stdin=src, stdout=dst, check=True)
        os.remove(viscii)
        compare("tonedown's VIQR of the benchmark text", toneup, viqr)
        if texts:
            sys.path.insert(0, HERE)
            import typed_eval
            lines = []
            for name in texts:
                with open(name, encoding="utf-8") as f:
                    lines += [typed_eval.type_line(typed_eval.type_punctuation(l)) for l in f.read().splitlines()]
            block = ("\n".join(lines) + "\n").encode("utf-8", "replace")
            typed_path = os.path.join(work, "typed.viqr")
            with open(typed_path, "wb") as f:
                for _ in range(max(1, mb * 1024 * 1024 // len(block))):
                    f.write(block)
            compare("typed VIQR of " + ", ".join(os.path.basename(t) for t in texts), toneup, typed_path)


if __name__ == "__main__":
    main()
