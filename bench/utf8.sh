#!/usr/bin/env bash
# Usage: [TEXT=sample|debian] bench/utf8.sh [BUILD_DIR] [MEGABYTES] [RUNS]
# tonedown -u and toneup -u on UTF-8 Vietnamese text made from the sample
# (the VISCII sample through iconv, repeated) or with TEXT=debian from the
# varied Debian texts (see make_input.sh), each beside what it replaces:
#   tonedown -u   vs  recode UTF-8..VIQR   and  iconv -f UTF-8 -t VISCII | tonedown
#   toneup -u     vs  recode VIQR..UTF-8   and  toneup | iconv -f VISCII -t UTF-8
# Whole-process wall-clock time, median of RUNS (default 5) paired runs (in
# each run every command goes once, in turn), and the peak memory of the two
# programs (GNU time %M) for 1 MiB and for the full input.  recode is left out
# where it is not installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
mb=${2:-100}
runs=${3:-5}
tonedown="$build/bin/tonedown"
toneup="$build/bin/toneup"
for p in "$tonedown" "$toneup"; do [ -x "$p" ] || { echo "no $p: build first" >&2; exit 1; }; done
command -v iconv > /dev/null || { echo "iconv is needed to make the UTF-8 input" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# UTF-8 text of MEGABYTES MiB or a little less: whole lines of the text.
make_utf8() { "$here/make_input.sh" "$2" "$1" utf8; }
make_utf8 "$work/small.txt" 1
make_utf8 "$work/big.txt" "$mb"
"$tonedown" -u "$work/big.txt" > "$work/big.viqr"
"$tonedown" -u "$work/small.txt" > "$work/small.viqr"
bytes=$(stat -c %s "$work/big.txt")

has_recode=false
command -v recode > /dev/null && has_recode=true

# name::command, in the order they run in each round.
commands=(
  "tonedown -u::exec '$tonedown' -u '$work/big.txt' > /dev/null"
  "iconv | tonedown::iconv -f UTF-8 -t VISCII '$work/big.txt' | '$tonedown' > /dev/null"
  "toneup -u::exec '$toneup' -u '$work/big.viqr' > /dev/null"
  "toneup | iconv::'$toneup' '$work/big.viqr' | iconv -f VISCII -t UTF-8 > /dev/null"
)
if $has_recode; then
  commands+=(
    "recode UTF-8..VIQR::recode UTF-8..VIQR < '$work/big.txt' > /dev/null"
    "recode VIQR..UTF-8::recode VIQR..UTF-8 < '$work/big.viqr' > /dev/null"
  )
fi

for ((round = 1; round <= runs; round++)); do
  for entry in "${commands[@]}"; do
    name=${entry%%::*}
    command=${entry#*::}
    start=$(date +%s.%N)
    sh -c "$command"
    end=$(date +%s.%N)
    printf '%s\t%s\n' "$name" "$(echo "$end - $start" | bc)" >> "$work/times"
  done
done

peak() { /usr/bin/time -f %M -o "$work/peak" sh -c "$1" && tail -n 1 "$work/peak"; }

median() {  # of the times recorded for one name
  awk -F '\t' -v n="$1" '$1 == n { print $2 }' "$work/times" | sort -g | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}
range() {
  awk -F '\t' -v n="$1" '$1 == n { print $2 }' "$work/times" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f-%.3f", lo, hi }'
}

printf 'UTF-8 input: %d bytes (%d MiB) of the %s text as UTF-8; median of %d paired runs\n' "$bytes" "$mb" "${TEXT:-sample}" "$runs"
printf '  %-22s %9s %15s %10s\n' command seconds range "MB/s in"
for entry in "${commands[@]}"; do
  name=${entry%%::*}
  t=$(median "$name")
  input_bytes=$bytes
  case $name in toneup*|recode\ VIQR*) input_bytes=$(stat -c %s "$work/big.viqr") ;; esac
  printf '  %-22s %9.3f %15s %10.1f\n' "$name" "$t" "$(range "$name")" "$(echo "$input_bytes / $t / 1000000" | bc -l)"
done
ratio() { echo "$(median "$2") / $(median "$1")" | bc -l; }
printf '  tonedown -u is %.1fx as fast as iconv | tonedown' "$(ratio "tonedown -u" "iconv | tonedown")"
$has_recode && printf ', %.1fx as fast as recode UTF-8..VIQR' "$(ratio "tonedown -u" "recode UTF-8..VIQR")"
printf '\n  toneup -u is %.1fx as fast as toneup | iconv' "$(ratio "toneup -u" "toneup | iconv")"
$has_recode && printf ', %.1fx as fast as recode VIQR..UTF-8' "$(ratio "toneup -u" "recode VIQR..UTF-8")"
printf '\n'
# The programs must also have given the right bytes.
"$tonedown" -u "$work/big.txt" | "$toneup" -u | cmp -s - "$work/big.txt" || { echo "the round trip differs" >&2; exit 1; }
if [ -x /usr/bin/time ]; then
  printf '  peak memory (KiB), 1 MiB / %d MiB input: tonedown -u %s / %s, toneup -u %s / %s\n' "$mb" \
    "$(peak "exec '$tonedown' -u '$work/small.txt' > /dev/null")" "$(peak "exec '$tonedown' -u '$work/big.txt' > /dev/null")" \
    "$(peak "exec '$toneup' -u '$work/small.viqr' > /dev/null")" "$(peak "exec '$toneup' -u '$work/big.viqr' > /dev/null")"
  printf '  peak memory (KiB), %d MiB input: recode UTF-8..VIQR %s\n' "$mb" \
    "$($has_recode && peak "exec recode UTF-8..VIQR < '$work/big.txt' > /dev/null" || echo n/a)"
else
  echo "  peak memory: GNU time (/usr/bin/time) is not installed"
fi
