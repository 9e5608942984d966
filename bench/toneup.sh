#!/usr/bin/env bash
# Usage: bench/toneup.sh [--row] [BUILD_DIR] [MEGABYTES]
# toneup's whole-process time on the VIQR text that tonedown makes from
# MEGABYTES MiB (100 by default) of VISCII text, beside dd reading that same
# VIQR file in toneup's chunk size of 1024 bytes (the floor of any filter that
# reads this way), and its peak memory for the VIQR of 1 MiB and of the large
# input.  Peak memory is GNU time's maximum resident set size (see measure.py).
# With --row it prints one line for bench/all.sh instead: program, MB/s, ratio
# to dd, peak memory in KiB (large input), MiB.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
row=false
if [ "${1:-}" = --row ]; then row=true; shift; fi
build=${1:-build}
mb=${2:-100}
toneup="$build/bin/toneup"
tonedown="$build/bin/tonedown"
for program in "$toneup" "$tonedown"; do
  [ -x "$program" ] || { echo "no $program: build first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$here/make_input.sh" 1 "$work/small.viscii"
"$here/make_input.sh" "$mb" "$work/big.viscii"
"$tonedown" "$work/small.viscii" > "$work/small.viqr"
"$tonedown" "$work/big.viscii" > "$work/big.viqr"
rm "$work/big.viscii"
# The round trip holds, or the figures below would time the wrong thing.
"$toneup" "$work/small.viqr" | cmp -s - "$work/small.viscii" || { echo "toneup does not give back the input" >&2; exit 1; }
bytes=$(stat -c %s "$work/big.viqr")

read -r t_prog rss_big < <("$here/measure.py" 3 "exec '$toneup' '$work/big.viqr' > /dev/null")
read -r t_dd _ < <("$here/measure.py" 3 "exec dd if='$work/big.viqr' of=/dev/null bs=1024 status=none")
read -r _ rss_small < <("$here/measure.py" 1 "exec '$toneup' '$work/small.viqr' > /dev/null")

if $row; then
  awk -v b="$bytes" -v tp="$t_prog" -v td="$t_dd" -v rb="$rss_big" -v mb="$mb" \
    'BEGIN { printf "toneup %.1f %.2f %s %d\n", b / tp / 1e6, tp / td, rb, mb }'
  exit 0
fi
awk -v b="$bytes" -v tp="$t_prog" -v td="$t_dd" -v rs="$rss_small" -v rb="$rss_big" -v mb="$mb" 'BEGIN {
  printf "toneup, VIQR made by tonedown from %d MiB of VISCII: %.1f MB (best of 3)\n", mb, b / 1e6
  printf "  %-22s %7.3f s  %8.1f MB/s\n", "toneup", tp, b / tp / 1e6
  printf "  %-22s %7.3f s  %8.1f MB/s\n", "dd bs=1024", td, b / td / 1e6
  printf "  ratio to dd:           %.2f\n", tp / td
  printf "  peak memory:           %s KiB (VIQR of 1 MiB), %s KiB (VIQR of %d MiB)\n", rs, rb, mb
}'
