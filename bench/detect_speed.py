#!/usr/bin/env python3
"""Usage: bench/detect_speed.py [--toneconv PATH] [--runs N] OUTDIR

How fast detection is, on files made from bench/typed_corpus.py's Vietnamese
text (OUTDIR/corpus is built if missing):

  * toneconv --detect on 1 MB files: TCVN3 (clear at once), VNI, UTF-8, the
    TCVN3 mojibake, and two that make detection read every stage: French in
    Windows-1252 (no Vietnamese reading fits) and English with a Vietnamese
    paragraph at its end;
  * toneconv FILE (detected) against toneconv -f tcvn3 FILE on a 100 MB TCVN3
    file, output to /dev/null.

Each figure is the best of N runs (wall clock, the process included).
"""
import argparse
import os
import subprocess
import sys
import time


def best_time(command, runs):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def make(path, data):
    with open(path, "wb") as f:
        f.write(data)


def sized(data, size):
    return (data * (size // len(data) + 1))[:size]


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--toneconv", default="toneconv")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("outdir")
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    corpus = os.path.join(args.outdir, "corpus", "heldout.txt")
    if not os.path.exists(corpus):
        subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "typed_corpus.py"),
                        os.path.dirname(corpus)], check=True)
    text = open(corpus, "rb").read()

    def convert(to, data):
        return subprocess.run([args.toneconv, "-f", "utf-8", "-t", to, "-c"], input=data, capture_output=True).stdout

    mb = 1 << 20
    files = {
        "tcvn3": sized(convert("tcvn3", text), mb),
        "vni": sized(convert("vni", text), mb),
        "utf-8": sized(text, mb),
        "tcvn3-as-cp1252": sized(convert("tcvn3", text).decode("cp1252", "replace").encode("utf-8"), mb),
        "french-cp1252": sized("L'été dernier, nous sommes allés à la forêt près du château où la rivière "
                               "coule.\n".encode("cp1252"), mb),
        "english-then-vietnamese": sized(b"The quick brown fox jumps over the lazy dog.\n", mb - 4096)
                                   + text[:4096],
    }
    print(f"toneconv --detect on 1 MB files (best of {args.runs}, process included):")
    for name, data in files.items():
        path = os.path.join(args.outdir, f"{name}.1mb")
        make(path, data)
        verdict = subprocess.run([args.toneconv, "--detect", path], capture_output=True, text=True).stdout.strip()
        seconds = best_time([args.toneconv, "--detect", path], args.runs)
        print(f"  {name:26} {seconds * 1000:7.2f} ms   {verdict.split(': ', 1)[1]}")
    empty = os.path.join(args.outdir, "empty")
    make(empty, b"")
    print(f"  {'(an empty file)':26} {best_time([args.toneconv, '--detect', empty], args.runs) * 1000:7.2f} ms")

    big = os.path.join(args.outdir, "tcvn3.100mb")
    make(big, sized(convert("tcvn3", text), 100 * mb))
    named = best_time([args.toneconv, "-f", "tcvn3", big], args.runs)
    detected = best_time([args.toneconv, big], args.runs)
    print(f"\n100 MB TCVN3 to UTF-8 (best of {args.runs}):")
    print(f"  toneconv -f tcvn3 FILE  {named:6.3f} s")
    print(f"  toneconv FILE           {detected:6.3f} s   ({detected / named:.2f}x)")
    os.remove(big)


if __name__ == "__main__":
    main()
