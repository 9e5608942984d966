#!/usr/bin/env bash
# Usage: bench/all.sh [BUILD_DIR] [MEGABYTES]
# Benchmarks tonedown, toneup and tonefix (bench/bench.py --table) and prints
# one Markdown table: time beside cat and recode over paired rounds, and peak
# memory for 1 MiB, the timed input and 1 GiB through a pipe.  Build with
# -DCMAKE_BUILD_TYPE=Release first.  ROUNDS=N sets the number of rounds.
set -euo pipefail
exec python3 "$(dirname "$0")/bench.py" --table "$@"
