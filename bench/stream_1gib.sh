#!/usr/bin/env bash
# Usage: bench/stream_1gib.sh [BUILD_DIR] [MEBIBYTES]
# Streams MEBIBYTES (default 1024, that is 1 GiB) of text through each program
# from a pipe, and reports each program's peak memory beside a run over 1 MiB
# of the same text: a filter's memory must not grow with its input.  The text
# is the sample made into 1 MiB by make_input.sh (VIQR from tonedown for
# toneup), repeated; no file of the full size is written.  The programs read a
# FIFO that a separate writer fills, so that GNU time measures the program
# alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
mib=${2:-1024}
for p in tonedown toneup tonefix; do
  [ -x "$build/bin/$p" ] || { echo "no $build/bin/$p: build first" >&2; exit 1; }
done
work=$(mktemp -d)
writer=
cleanup() {
  if [ -n "$writer" ]; then kill "$writer" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$here/make_input.sh" 1 "$work/viscii"
"$build/bin/tonedown" "$work/viscii" > "$work/viqr.whole"
head -c $((1 << 20)) "$work/viqr.whole" > "$work/viqr"
mkfifo "$work/fifo"

# Starts writing `times` copies of `file` into the FIFO in the background.
start_writer() {
  local file=$1 times=$2
  (for ((i = 0; i < times; i++)); do cat "$file"; done > "$work/fifo") &
  writer=$!
}

# Prints "seconds peak_KiB" for `program` reading `times` copies of `file`.
measure_stream() {
  local program=$1 file=$2 times=$3 result
  start_writer "$file" "$times"
  result=$("$here/measure.py" 1 "exec '$build/bin/$program' < '$work/fifo' > /dev/null")
  wait "$writer"
  writer=
  echo "$result"
}

printf 'Peak memory streaming through a pipe (GNU time), %d MiB against 1 MiB\n' "$mib"
printf '  %-9s %14s %14s %10s %10s\n' program "1 MiB: KiB" "$mib MiB: KiB" seconds "MB/s"
for program in tonedown toneup tonefix; do
  input="$work/viscii"
  [ "$program" = toneup ] && input="$work/viqr"
  read -r _ small < <(measure_stream "$program" "$input" 1)
  read -r seconds big < <(measure_stream "$program" "$input" "$mib")
  awk -v p="$program" -v s="$small" -v b="$big" -v t="$seconds" -v bytes=$((mib << 20)) \
    'BEGIN { printf "  %-9s %14s %14s %10.2f %10.1f\n", p, s, b, t, bytes / t / 1e6 }'
done
