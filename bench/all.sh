#!/usr/bin/env bash
# Usage: bench/all.sh [BUILD_DIR] [MEGABYTES]
# Runs the benchmark of each program (bench/tonedown.sh, bench/toneup.sh,
# bench/tonefix.sh) on MEGABYTES MiB of text, 100 by default, and prints one
# Markdown table: throughput, time as a multiple of dd reading the same input
# in the program's own chunk size (1.00 would be as fast as reading alone),
# and peak resident memory.  Build with -DCMAKE_BUILD_TYPE=Release first.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
mb=${2:-100}

rows=()
for program in tonedown toneup tonefix; do
  echo "bench/$program.sh $build $mb ..." >&2
  rows+=("$("$here/$program.sh" --row "$build" "$mb")")
done

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)
printf '%s\n' "${rows[@]}" | awk -v mb="$mb" -v cpu="${cpu:-unknown processor}" '
  BEGIN {
    printf "Input: %d MiB of VISCII text made from the sample (toneup reads the VIQR that\n", mb
    printf "tonedown makes of it); MB/s counts input bytes; best of 3 runs; %s.\n\n", cpu
    print "| program | MB/s | time / dd time (same chunk size) | peak memory |"
    print "|---|---:|---:|---:|"
  }
  { printf "| %s | %.0f | %.2f | %s |\n", $1, $2, $3, $4 == "n/a" ? "n/a" : sprintf("%.1f MiB", $4 / 1024) }'
