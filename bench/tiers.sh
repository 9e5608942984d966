#!/usr/bin/env bash
# Usage: bench/tiers.sh [BUILD_DIR] [MEGABYTES]
# The benchmarks once per implementation of the fast paths that this
# processor runs (VIQR_IMPLEMENTATION=scalar, sse2, avx2, avx512): for each,
# the table of bench/all.sh (MB/s, time over cat's, speed-up over recode,
# peak memory of tonedown, toneup and tonefix) and the figures of
# bench/utf8.sh (tonedown -u and toneup -u beside recode).  ROUNDS=N sets the
# rounds of the first, RUNS=N the runs of the second; TEXT=debian measures on
# the varied Debian texts instead of the sample (see make_input.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
mb=${2:-100}
for tier in scalar sse2 avx2 avx512; do
  if ! named=$(VIQR_IMPLEMENTATION=$tier "$build/bin/tonedown" --implementation 2>&1); then
    echo "## $tier: not run ($named)"
    echo
    continue
  fi
  echo "## VIQR_IMPLEMENTATION=$named"
  echo
  VIQR_IMPLEMENTATION=$tier python3 "$here/bench.py" --table ${ROUNDS:+--rounds "$ROUNDS"} "$build" "$mb"
  echo
  VIQR_IMPLEMENTATION=$tier "$here/utf8.sh" "$build" "$mb" "${RUNS:-5}"
  echo
done
