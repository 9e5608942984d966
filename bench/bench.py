#!/usr/bin/env python3
"""Usage: bench/bench.py [options] PROGRAM [BUILD_DIR] [MEGABYTES]
       bench/bench.py [options] --table [BUILD_DIR] [MEGABYTES]

Whole-process benchmark of tonedown, toneup or tonefix (PROGRAM), as built in
BUILD_DIR (build by default; make it a Release build), on MEGABYTES MiB (100
by default) of VISCII text made from the bundled sample, or with TEXT=debian
in the environment from the varied Vietnamese text that Debian ships (see
make_input.sh); toneup reads the VIQR that tonedown writes for it.

Time: ROUNDS paired rounds (7 by default, at least 5).  Each round runs the
program, `cat` of the same file to /dev/null (the floor of any filter) and
`recode` doing the same conversion where it can, each reading the file on
standard input and writing to /dev/null; the order rotates from round to
round so that neither side always runs first.  Reported: the median wall time
of each, and per round the program's time over cat's and recode's time over
the program's, as a median and as the range over the rounds.

Peak memory: GNU time's maximum resident set size (/usr/bin/time -f %M,
Debian package "time") for 1 MiB, for the timed input, and for 1 GiB
streamed through a pipe (1 MiB of the same text written over and over, so
that no file of that size is needed); the highest of three runs each.

--table runs all three programs and prints one Markdown table.

Options:
  --rounds N       paired rounds (default 7, at least 5)
  --stream-mib N   size of the streamed input in MiB (default 1024)
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
GNU_TIME = "/usr/bin/time"
MIB = 1 << 20
# Which text the inputs are made of (make_input.sh): the sample or the Debian texts.
TEXT = os.environ.get("TEXT", "sample")

# What the programs must show; the report says whether each is met.
MEMORY_LIMIT_KIB = 4 * 1024
# Peak memory counts as the same for 1 MiB and 1 GiB within this many KiB:
# runs of one program on one input differ by up to about 120 KiB, as the
# loader and the C library place themselves.  Each figure is the highest of
# MEMORY_RUNS runs.
SAME_MEMORY_KIB = 256
MEMORY_RUNS = 3


def fail(message):
    sys.exit(f"bench: {message}")


# ---------------------------------------------------------------- the step of each program


@dataclass
class Step:
    """What sets one program's benchmark apart from the others'."""

    name: str
    input_kind: str           # what the program reads, for the report
    recode_request: str       # recode's name for the same conversion, or ""
    no_recode_reason: str     # why there is no recode baseline, when there is none
    cat_target: float         # time / cat time must stay at or under this
    recode_target: float      # speed-up over recode must reach this (0: none)

    def make_inputs(self, bench):
        """Returns (1 MiB piece, timed input) for this program."""
        return bench.viscii(1), bench.viscii(bench.megabytes)


class ToneupStep(Step):
    def make_inputs(self, bench):
        small = bench.viscii(1)
        small_viqr = bench.tonedown_of(small)
        # The round trip holds, or the figures would time the wrong thing.
        back = subprocess.run([bench.program("toneup"), str(small_viqr)], stdout=subprocess.PIPE, check=True).stdout
        if back != small.read_bytes():
            fail("toneup does not give back what tonedown was given")
        piece = bench.work / "piece.viqr"
        piece.write_bytes(small_viqr.read_bytes()[:MIB])
        return piece, bench.tonedown_of(bench.viscii(bench.megabytes))


STEPS = {
    "tonedown": Step("tonedown", "VISCII", "VISCII..VIQR", "", 3.0, 15.0),
    "toneup": ToneupStep("toneup", "VIQR written by tonedown", "VIQR..VISCII", "", 5.0, 15.0),
    "tonefix": Step("tonefix", "VISCII", "", "recode has no conversion from VISCII 1.0 to 1.1", 1.3, 0.0),
}


# ---------------------------------------------------------------- the skeleton


@dataclass
class Result:
    step: Step
    input_bytes: int
    rounds: int
    seconds: dict = field(default_factory=dict)       # command name -> times, one a round
    cat_ratios: list = field(default_factory=list)
    recode_speedups: list = field(default_factory=list)
    recode_note: str = ""
    peak_kib: dict = field(default_factory=dict)      # "1 MiB", "N MiB", "N MiB streamed" -> KiB


class Bench:
    def __init__(self, build, megabytes, rounds, stream_mib):
        self.build = Path(build)
        self.megabytes = megabytes
        self.rounds = rounds
        self.stream_mib = stream_mib
        self.work = Path(tempfile.mkdtemp(prefix="viqr-bench-"))
        self.made = {}

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def program(self, name):
        path = self.build / "bin" / name
        if not os.access(path, os.X_OK):
            fail(f"no {path}: build first")
        return str(path)

    def viscii(self, megabytes):
        """MEGABYTES MiB of VISCII made from the text (TEXT), made once."""
        path = self.work / f"{megabytes}.viscii"
        if path not in self.made:
            subprocess.run([str(HERE / "make_input.sh"), str(megabytes), str(path)], check=True)
            self.made[path] = True
        return path

    def tonedown_of(self, viscii):
        path = viscii.with_suffix(".viqr")
        if path not in self.made:
            with open(path, "wb") as out:
                subprocess.run([self.program("tonedown"), str(viscii)], stdout=out, check=True)
            self.made[path] = True
        return path

    def run(self, step):
        program = self.program(step.name)
        piece, timed = step.make_inputs(self)
        result = Result(step, timed.stat().st_size, self.rounds)
        commands = {step.name: [program], "cat": ["cat"]}
        recode = recode_command(step)
        if isinstance(recode, list):
            commands["recode " + step.recode_request] = recode
        else:
            result.recode_note = recode
        result.seconds = paired_rounds(commands, timed, self.rounds)
        own, cat = result.seconds[step.name], result.seconds["cat"]
        result.cat_ratios = [p / c for p, c in zip(own, cat)]
        if isinstance(recode, list):
            theirs = result.seconds["recode " + step.recode_request]
            result.recode_speedups = [r / p for r, p in zip(theirs, own)]
        result.peak_kib = {
            "1 MiB": max(peak_kib([program], piece) for _ in range(MEMORY_RUNS)),
            "the timed input": max(peak_kib([program], timed) for _ in range(MEMORY_RUNS)),
            f"{self.stream_mib} MiB streamed": max(
                streamed_peak_kib([program], piece, self.stream_mib) for _ in range(MEMORY_RUNS)),
        }
        return result


def recode_command(step):
    """recode's command for the step's conversion, or why there is none."""
    if not step.recode_request:
        return step.no_recode_reason
    if shutil.which("recode") is None:
        return "recode is not installed"
    listing = subprocess.run(["recode", "-l"], stdout=subprocess.PIPE, text=True, check=True).stdout
    known = {name for line in listing.splitlines() for name in line.split()}
    missing = [c for c in step.recode_request.split("..") if c not in known]
    if missing:
        return f"this recode knows no {' or '.join(missing)}, so it cannot do {step.recode_request}"
    return ["recode", step.recode_request]


def run_once(argv, input_path):
    """Wall-clock seconds of one whole process reading `input_path` on standard input."""
    with open(input_path, "rb") as stdin:
        start = time.perf_counter()
        done = subprocess.run(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
    if done.returncode != 0:
        fail(f"{' '.join(argv)} failed with status {done.returncode}: {done.stderr.decode(errors='replace')}")
    return elapsed


def paired_rounds(commands, input_path, rounds):
    """Times every command once a round, in an order that rotates each round."""
    names = list(commands)
    for name in names:  # the file in the page cache, the programs loaded once
        run_once(commands[name], input_path)
    seconds = {name: [] for name in names}
    for r in range(rounds):
        shift = r % len(names)
        for name in names[shift:] + names[:shift]:
            seconds[name].append(run_once(commands[name], input_path))
    return seconds


def gnu_time(argv):
    if not os.access(GNU_TIME, os.X_OK):
        fail(f"peak memory needs GNU time at {GNU_TIME} (Debian package \"time\")")
    report = tempfile.NamedTemporaryFile("r", delete=False)
    report.close()
    return [GNU_TIME, "-f", "%M", "-o", report.name] + argv, report.name


def read_peak(report):
    text = Path(report).read_text().split()
    os.unlink(report)
    return int(text[-1])


def peak_kib(argv, input_path):
    """Peak resident memory of one run reading `input_path`."""
    command, report = gnu_time(argv)
    with open(input_path, "rb") as stdin:
        subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL, check=True)
    return read_peak(report)


def streamed_peak_kib(argv, piece, mib):
    """Peak resident memory of the program reading `mib` MiB from a pipe: the
    piece written over and over.  GNU time measures its child, the program,
    and not the writer."""
    command, report = gnu_time(argv)
    block = piece.read_bytes()
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    written = 0
    while written < mib * MIB:
        process.stdin.write(block[: mib * MIB - written])
        written += min(len(block), mib * MIB - written)
    process.stdin.close()
    if process.wait() != 0:
        fail(f"{' '.join(argv)} failed reading {mib} MiB from a pipe")
    return read_peak(report)


# ---------------------------------------------------------------- reports


def median_range(values, digits):
    return f"{statistics.median(values):.{digits}f} ({min(values):.{digits}f} to {max(values):.{digits}f})"


def verdict(ok):
    return "met" if ok else "MISSED"


def cat_verdict(result):
    return verdict(statistics.median(result.cat_ratios) <= result.step.cat_target)


def recode_verdict(result):
    if not result.recode_speedups:
        return "no baseline" if result.step.recode_target else ""
    return verdict(statistics.median(result.recode_speedups) >= result.step.recode_target)


def memory_verdict(result):
    peaks = list(result.peak_kib.values())
    small, streamed = peaks[0], peaks[-1]
    return verdict(max(peaks) < MEMORY_LIMIT_KIB and abs(streamed - small) <= SAME_MEMORY_KIB)


def mb_per_s(result):
    return result.input_bytes / statistics.median(result.seconds[result.step.name]) / 1e6


def machine_line(bench):
    cpu = "unknown processor"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    build_type = "unknown"
    cache = bench.build / "CMakeCache.txt"
    if cache.exists():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_BUILD_TYPE:"):
                build_type = line.split("=", 1)[1] or "none"
    return f"{cpu}, {os.cpu_count()} cores, load average {load} at the start; {build_type} build"


def print_detail(result):
    step = result.step
    print(f"{step.name}: {result.input_bytes / 1e6:.1f} MB of {step.input_kind} made from the {TEXT} text, "
          f"{result.rounds} paired rounds")
    print(f"  {'command':<26} {'median s':>9}  {'range s':>17}  {'MB/s':>8}")
    for name, times in result.seconds.items():
        rate = result.input_bytes / statistics.median(times) / 1e6
        print(f"  {name:<26} {statistics.median(times):9.3f}  {min(times):7.3f} to {max(times):7.3f}  {rate:8.1f}")
    print(f"  time / cat time:        {median_range(result.cat_ratios, 2)}; "
          f"target at most {step.cat_target:g}: {cat_verdict(result)}")
    if result.recode_speedups:
        print(f"  speed-up over recode:   {median_range(result.recode_speedups, 1)}; "
              f"target at least {step.recode_target:g}: {recode_verdict(result)}")
    else:
        print(f"  speed-up over recode:   none measured: {result.recode_note}")
    peaks = ", ".join(f"{kib} KiB for {size}" for size, kib in result.peak_kib.items())
    print(f"  peak memory:            {peaks}; target under {MEMORY_LIMIT_KIB} KiB, and the same "
          f"(within {SAME_MEMORY_KIB} KiB) for 1 MiB and streamed: {memory_verdict(result)}")


def print_table(results, bench):
    stream = f"{bench.stream_mib} MiB" if bench.stream_mib != 1024 else "1 GiB"
    print(f"Input: {bench.megabytes} MiB of VISCII text made from the {TEXT} text (toneup reads the VIQR that tonedown")
    print(f"makes of it); MB/s counts input bytes; median and range over {bench.rounds} paired rounds, each")
    print("program beside cat of the same file and recode doing the same conversion;")
    print(f"{machine_line(bench)}.")
    print()
    print("| program | MB/s | time / cat time | target | speed-up over recode | target "
          f"| peak memory, 1 MiB / {bench.megabytes} MiB / {stream} piped | target |")
    print("|---|---:|---:|---|---:|---|---:|---|")
    for r in results:
        speedup = median_range(r.recode_speedups, 1) if r.recode_speedups else "n/a"
        recode_target = f"at least {r.step.recode_target:g}: {recode_verdict(r)}" if r.step.recode_target else "none"
        peaks = " / ".join(f"{kib / 1024:.2f}" for kib in r.peak_kib.values()) + " MiB"
        print(f"| {r.step.name} | {mb_per_s(r):.0f} | {median_range(r.cat_ratios, 2)} "
              f"| at most {r.step.cat_target:g}: {cat_verdict(r)} | {speedup} | {recode_target} "
              f"| {peaks} | under 4 MiB, same: {memory_verdict(r)} |")
    notes = [f"{r.step.name}: {r.recode_note}" for r in results if r.recode_note]
    if notes:
        print()
        print("No recode figure for " + "; ".join(notes) + ".")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--table", action="store_true")
    parser.add_argument("--rounds", type=int, default=int(os.environ.get("ROUNDS", 7)))
    parser.add_argument("--stream-mib", type=int, default=1024)
    parser.add_argument("words", nargs="*")
    args = parser.parse_args()
    words = args.words
    if args.table:
        programs = list(STEPS)
    else:
        if not words or words[0] not in STEPS:
            sys.exit(__doc__)
        programs, words = [words[0]], words[1:]
    if len(words) > 2:
        sys.exit(__doc__)
    build = words[0] if words else "build"
    megabytes = int(words[1]) if len(words) > 1 else 100
    if args.rounds < 5:
        fail("at least 5 paired rounds, so that the median means something")

    bench = Bench(build, megabytes, args.rounds, args.stream_mib)
    try:
        results = []
        for name in programs:
            print(f"bench: {name} ...", file=sys.stderr)
            results.append(bench.run(STEPS[name]))
        if args.table:
            print_table(results, bench)
        else:
            print(machine_line(bench))
            print_detail(results[0])
    finally:
        bench.close()


if __name__ == "__main__":
    main()
