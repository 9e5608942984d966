#!/usr/bin/env bash
# Every fuzz target that fuzz/CMakeLists.txt declares, for a bounded time.
# Each must report at least FUZZ_MIN_RUNS runs: a target that stops at once,
# or runs too slowly to search, proves nothing.
source "$(dirname "$0")/../lib.sh"
mapfile -t fuzz_targets < <(sed -n 's/^viqr_fuzzer(\(fuzz_[A-Za-z0-9_]*\))$/\1/p' fuzz/CMakeLists.txt)
[ ${#fuzz_targets[@]} -gt 0 ] || { echo "fuzz/CMakeLists.txt declares no fuzz target" >&2; exit 1; }
: "${FUZZ_SECONDS:=60}" "${FUZZ_MIN_RUNS:=$((FUZZ_SECONDS * 500))}"
echo "== Fuzzing: ${fuzz_targets[*]}, ${FUZZ_SECONDS} s and at least ${FUZZ_MIN_RUNS} runs each"
rm -rf build-fuzz
CXX=clang++ cmake -S . -B build-fuzz -DFUZZING=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j2 --target "${fuzz_targets[@]}"
for name in "${fuzz_targets[@]}"; do
  target="build-fuzz/bin/$name"
  seeds="fuzz/corpus/$name"
  [ -x "$target" ] || { echo "$name was not built" >&2; exit 1; }
  [ -d "$seeds" ] || { echo "$name has no seed corpus in $seeds" >&2; exit 1; }
  # The corpus grows while the fuzzer runs: work on a copy, and keep any
  # finding (crash-*, leak-*, timeout-*, oom-*) beside it.
  work=$(mktemp -d)
  cp -R "$seeds" "$work/corpus"
  if "$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -artifact_prefix="$work/" "$work/corpus" \
       > "$work/log" 2>&1; then
    done_line=$(grep -E '^Done [0-9]+ runs' "$work/log" || true)
    runs=$(printf '%s\n' "$done_line" | sed -n 's/^Done \([0-9]*\) runs.*/\1/p')
    if [ -z "$runs" ] || [ "$runs" -lt "$FUZZ_MIN_RUNS" ]; then
      tail -n 20 "$work/log"
      echo "$name: ${done_line:-no \"Done N runs\" line}; at least $FUZZ_MIN_RUNS runs are needed" >&2
      exit 1
    fi
    echo "$name: $done_line"
    rm -rf "$work"
  else
    tail -n 60 "$work/log"
    for finding in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
      [ -e "$finding" ] || continue
      echo "== $name finding $(basename "$finding"):"
      od -A d -t x1 "$finding" | head -n 40
    done
    echo "$name found a fault; its log and findings are in $work" >&2
    exit 1
  fi
done
