#!/usr/bin/env bash
# Usage: bench/tonefix.sh [--row] [BUILD_DIR] [MEGABYTES]
# tonefix's whole-process time on VISCII text made from the sample, beside dd
# reading the same file in tonefix's chunk size (the floor of any filter that
# reads this way) and beside tr doing the same exchange.  Best of 3 each.
# With --row it prints one line for bench/all.sh instead: program, MB/s, ratio
# to dd, peak memory in KiB, MiB.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
row=false
if [ "${1:-}" = --row ]; then row=true; shift; fi
build=${1:-build}
mb=${2:-100}
tonefix="$build/bin/tonefix"
[ -x "$tonefix" ] || { echo "no $tonefix: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$here/make_input.sh" "$mb" "$work/big.viscii"
bytes=$(stat -c %s "$work/big.viscii")

read -r t_prog rss < <("$here/measure.py" 3 "exec '$tonefix' '$work/big.viscii' > /dev/null")
read -r t_dd _ < <("$here/measure.py" 3 "exec dd if='$work/big.viscii' of=/dev/null bs=1024 status=none")
if $row; then
  awk -v b="$bytes" -v tp="$t_prog" -v td="$t_dd" -v rss="$rss" -v mb="$mb" \
    'BEGIN { printf "tonefix %.1f %.2f %s %d\n", b / tp / 1e6, tp / td, rss, mb }'
  exit 0
fi
read -r t_tr _ < <("$here/measure.py" 3 "exec tr '\\240\\325' '\\325\\240' < '$work/big.viscii' > /dev/null")

awk -v b="$bytes" -v tp="$t_prog" -v td="$t_dd" -v tt="$t_tr" -v rss="$rss" -v mb="$mb" 'BEGIN {
  printf "tonefix, %d MiB of VISCII (best of 3)\n", mb
  printf "  %-22s %7.3f s  %8.1f MB/s  %5.2f x dd\n", "tonefix", tp, b / tp / 1e6, tp / td
  printf "  %-22s %7.3f s  %8.1f MB/s  %5.2f x dd\n", "dd bs=1024", td, b / td / 1e6, 1
  printf "  %-22s %7.3f s  %8.1f MB/s  %5.2f x dd\n", "tr \\240\\325 \\325\\240", tt, b / tt / 1e6, tt / td
  printf "  peak memory of tonefix: %s KiB\n", rss
}'
