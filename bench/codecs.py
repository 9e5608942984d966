#!/usr/bin/env python3
"""Usage: bench/codecs.py [--rounds N] [--megabytes N] [--only TEXT] [BUILD_DIR]

Speed and memory of toneconv against iconv and GNU recode, on varied
Vietnamese text: sentences of 4 to 14 words drawn at random (fixed seed) from
the hunspell-vi dictionary (/usr/share/hunspell/vi_VN.dic), a capital at the
start of each sentence, commas, full stops, question marks, a line break
every few sentences, and now and then a number; the bundled sample letter is
added once.  MEGABYTES MiB of it (32 by default) in UTF-8, and the same text
in each encoding as iconv or recode writes it.

Each pair below runs ROUNDS paired rounds (7 by default): toneconv and the
baseline on the same file, standard output to /dev/null, the order
alternating from round to round.  Time is CPU time (user and system) of the
whole process, which other jobs on a shared machine disturb less than wall
time.  Reported: the median time of each in ms,
the median speed-up (baseline time over toneconv's) and its range over the
rounds.  --only TEXT keeps the pairs whose label holds TEXT (for example
--only "UTF-8 to"); the header names the implementation toneconv runs,
which VIQR_IMPLEMENTATION in the environment may choose, e.g.
    VIQR_IMPLEMENTATION=sse2 bench/codecs.py --only "UTF-8 to" build
Then the peak memory (GNU time's maximum resident set size) of
toneconv for 1 MiB and for MEGABYTES MiB of the same conversion: flat memory
means the two are the same within the loader's noise.
"""
import argparse
import os
import random
import resource
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
DICTIONARY = Path("/usr/share/hunspell/vi_VN.dic")
SAMPLE = HERE.parent / "sample" / "thu-gui-ban-doc.viscii"
MIB = 1 << 20

# (label, toneconv -f, toneconv -t, baseline command, input encoding, target
# speed-up or 0 for none).  The input of each pair is the corpus in the
# "from" encoding, as the oracle wrote it.
PAIRS = [
    ("VISCII to UTF-8", "viscii", "utf-8", ["iconv", "-f", "VISCII", "-t", "UTF-8"], 3),
    ("UTF-8 to VISCII", "utf-8", "viscii", ["iconv", "-f", "UTF-8", "-t", "VISCII"], 3),
    ("CP1258 to UTF-8", "cp1258", "utf-8", ["iconv", "-f", "CP1258", "-t", "UTF-8"], 3),
    ("UTF-8 to CP1258", "utf-8", "cp1258", ["iconv", "-f", "UTF-8", "-t", "CP1258"], 3),
    ("VN1 to UTF-8", "vn1", "utf-8", ["iconv", "-f", "TCVN5712-1", "-t", "UTF-8"], 3),
    ("UTF-8 to VN1", "utf-8", "vn1", ["iconv", "-f", "UTF-8", "-t", "TCVN5712-1"], 3),
    ("VNI to UTF-8", "vni", "utf-8", ["recode", "VNI..UTF-8"], 10),
    ("UTF-8 to VNI", "utf-8", "vni", ["recode", "UTF-8..VNI"], 0),
    ("VPS to UTF-8", "vps", "utf-8", ["recode", "VPS..UTF-8"], 0),
    ("TCVN3 to UTF-8", "tcvn3", "utf-8", None, 0),
]

# How each encoding's input is made from the UTF-8 corpus.
MAKERS = {
    "viscii": ["iconv", "-f", "UTF-8", "-t", "VISCII"],
    "cp1258": ["iconv", "-f", "UTF-8", "-t", "CP1258"],
    "vn1": ["iconv", "-f", "UTF-8", "-t", "TCVN5712-1"],
    "vni": ["recode", "UTF-8..VNI"],
    "vps": ["recode", "UTF-8..VPS"],
}


def words():
    lines = DICTIONARY.read_text(encoding="utf-8").splitlines()[1:]
    found = [w for w in (line.split("/")[0] for line in lines) if w and w == w.lower() and not w[0].isdigit()]
    if len(found) < 1000:
        sys.exit(f"bench: {DICTIONARY} has too few words")
    return found


def corpus(megabytes):
    """Varied Vietnamese text in UTF-8, without capitals with a tone (so that
    TCVN3 holds all of it) and without Ỗ (which recode's VPS lacks)."""
    rng = random.Random(22)
    vocabulary = words()
    sample = subprocess.run(["iconv", "-f", "VISCII", "-t", "UTF-8"], input=SAMPLE.read_bytes(),
                            capture_output=True, check=True).stdout.decode()
    parts, size, sentences = [sample.lower()], 0, 0
    while size < megabytes * MIB:
        sentence = [rng.choice(vocabulary) for _ in range(rng.randint(4, 14))]
        if rng.random() < 0.1:
            sentence.insert(rng.randint(0, len(sentence)), str(rng.randint(1, 2030)))
        if len(sentence) > 6 and rng.random() < 0.4:
            sentence[rng.randint(1, len(sentence) - 2)] += ","
        first = sentence[0]
        if (first[0].isascii() and first[0].isalpha()) or first[0] in "đăâêôơư":
            sentence[0] = first[0].upper() + first[1:]
        text = " ".join(sentence) + rng.choice([".", ".", ".", "?", "!"])
        sentences += 1
        text += "\n" if sentences % rng.randint(3, 6) == 0 else " "
        parts.append(text)
        size += len(text.encode())
    data = "".join(parts).encode()[: megabytes * MIB]
    return data[: data.rfind(b"\n") + 1]


def run_timed(command, path):
    """The CPU time (user and system) the command took: on a machine that
    other jobs share, wall time mostly measures them."""
    with open(path, "rb") as stdin, open(os.devnull, "wb") as stdout:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run(command, stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL, check=False)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def peak_kib(command, path):
    with open(path, "rb") as stdin, open(os.devnull, "wb") as stdout:
        r = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdin=stdin, stdout=stdout,
                           stderr=subprocess.PIPE, check=False)
    return int(r.stderr.decode().strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--megabytes", type=int, default=32)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    toneconv = str(Path(args.build) / "bin" / "toneconv")
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        text = corpus(args.megabytes)
        files = {"utf-8": tmp / "utf-8"}
        files["utf-8"].write_bytes(text)
        (tmp / "small").write_bytes(text[:MIB])
        for encoding, maker in MAKERS.items():
            files[encoding] = tmp / encoding
            with open(files["utf-8"], "rb") as i, open(files[encoding], "wb") as o:
                subprocess.run(maker, stdin=i, stdout=o, check=True)
        files["tcvn3"] = tmp / "tcvn3"
        with open(files["utf-8"], "rb") as i, open(files["tcvn3"], "wb") as o:
            subprocess.run([toneconv, "-t", "tcvn3"], stdin=i, stdout=o, check=True)
        implementation = subprocess.run([toneconv, "--implementation"], capture_output=True,
                                        text=True).stdout.strip()
        print(f"corpus: {len(text) / MIB:.1f} MiB of UTF-8, {text.count(b' ') + 1} words; "
              f"{args.rounds} paired rounds; times are medians of CPU time in ms; load average "
              f"{' '.join(f'{x:.2f}' for x in os.getloadavg())}; toneconv's implementation {implementation}")
        print()
        print("| conversion | toneconv ms | baseline | baseline ms | speed-up (range) | target |")
        print("|---|---|---|---|---|---|")
        for label, source, target, baseline, goal in PAIRS:
            if args.only not in label:
                continue
            ours_command = [toneconv, "-f", source, "-t", target]
            ours, theirs, ratios = [], [], []
            for r in range(args.rounds):
                first_ours = r % 2 == 0
                if first_ours:
                    ours.append(run_timed(ours_command, files[source]))
                if baseline:
                    theirs.append(run_timed(baseline, files[source]))
                if not first_ours:
                    ours.append(run_timed(ours_command, files[source]))
                if baseline:
                    ratios.append(theirs[-1] / ours[-1])
            name = baseline[0] if baseline else "none"
            if baseline:
                verdict = "" if goal == 0 else (f"{goal}x: met" if statistics.median(ratios) >= goal else f"{goal}x: NOT met")
                print(f"| {label} | {statistics.median(ours) * 1000:.0f} | {name} | "
                      f"{statistics.median(theirs) * 1000:.0f} | {statistics.median(ratios):.2f} "
                      f"({min(ratios):.2f} to {max(ratios):.2f}) | {verdict} |")
            else:
                print(f"| {label} | {statistics.median(ours) * 1000:.0f} | none | | | |")
        print()
        print("| conversion | peak KiB, 1 MiB | peak KiB, whole corpus |")
        print("|---|---|---|")
        for label, source, target, _, _ in PAIRS[:2] + PAIRS[6:7]:
            small = tmp / f"small-{source}"
            small.write_bytes(files[source].read_bytes()[:MIB])
            command = [toneconv, "-f", source, "-t", target]
            print(f"| {label} | {max(peak_kib(command, small) for _ in range(3))} | "
                  f"{max(peak_kib(command, files[source]) for _ in range(3))} |")


if __name__ == "__main__":
    main()
