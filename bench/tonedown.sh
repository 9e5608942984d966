#!/usr/bin/env bash
# Usage: bench/tonedown.sh [--row] [BUILD_DIR] [MEGABYTES]
# tonedown's whole-process time on VISCII text made from the sample, beside
# dd reading the same file in tonedown's chunk size (the floor of any filter
# that reads this way), and its peak memory for a 1 MiB and a large input.
# With --row it prints one line for bench/all.sh instead: program, MB/s, ratio
# to dd, peak memory in KiB (large input), MiB.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
row=false
if [ "${1:-}" = --row ]; then row=true; shift; fi
build=${1:-build}
mb=${2:-100}
tonedown="$build/bin/tonedown"
[ -x "$tonedown" ] || { echo "no $tonedown: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$here/make_input.sh" 1 "$work/small.viscii"
"$here/make_input.sh" "$mb" "$work/big.viscii"
bytes=$(stat -c %s "$work/big.viscii")

read -r t_prog rss_big < <("$here/measure.py" 3 "exec '$tonedown' '$work/big.viscii' > /dev/null")
read -r t_dd _ < <("$here/measure.py" 3 "exec dd if='$work/big.viscii' of=/dev/null bs=1023 status=none")
read -r _ rss_small < <("$here/measure.py" 1 "exec '$tonedown' '$work/small.viscii' > /dev/null")

if $row; then
  awk -v b="$bytes" -v tp="$t_prog" -v td="$t_dd" -v rb="$rss_big" -v mb="$mb" \
    'BEGIN { printf "tonedown %.1f %.2f %s %d\n", b / tp / 1e6, tp / td, rb, mb }'
  exit 0
fi
awk -v b="$bytes" -v tp="$t_prog" -v td="$t_dd" -v rs="$rss_small" -v rb="$rss_big" -v mb="$mb" 'BEGIN {
  printf "tonedown, %d MiB of VISCII (best of 3)\n", mb
  printf "  %-22s %7.3f s  %8.1f MB/s\n", "tonedown", tp, b / tp / 1e6
  printf "  %-22s %7.3f s  %8.1f MB/s\n", "dd bs=1023", td, b / td / 1e6
  printf "  ratio to dd:           %.2f\n", tp / td
  printf "  peak memory:           %s KiB (1 MiB input), %s KiB (%d MiB input)\n", rs, rb, mb
}'
