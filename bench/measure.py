#!/usr/bin/env python3
"""Usage: bench/measure.py RUNS COMMAND

Runs the shell command RUNS times and prints the best wall-clock time in
seconds and the peak resident memory in KiB of the process that the command
execs (write it as "exec prog args < in > out" so that the shell is replaced
by the program measured).  Peak memory comes from GNU time (Debian package
"time"), which forks the command from a small process; it is "n/a" without it."""
import os
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"


def measure_once(command):
    with tempfile.NamedTemporaryFile("r") as report:
        argv = ["sh", "-c", command]
        if os.access(GNU_TIME, os.X_OK):
            argv = [GNU_TIME, "-f", "%M", "-o", report.name] + argv
        start = time.perf_counter()
        status = subprocess.call(argv)
        elapsed = time.perf_counter() - start
        if status != 0:
            sys.exit(f"measure: command failed with status {status}: {command}")
        peak = report.read().strip().splitlines()
        return elapsed, peak[-1] if peak else "n/a"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    runs, command = int(sys.argv[1]), sys.argv[2]
    results = [measure_once(command) for _ in range(runs)]
    best = min(seconds for seconds, _ in results)
    print(f"{best:.3f} {results[-1][1]}")


if __name__ == "__main__":
    main()
