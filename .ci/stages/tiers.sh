#!/usr/bin/env bash
# Usage: .ci/stages/tiers.sh [BUILD_DIR]
# Runs the whole suite of BUILD_DIR (build by default, built with the tests)
# once per implementation of the fast paths that this processor has, with
# VIQR_IMPLEMENTATION set, so that every test checks every tier the machine
# can run.  The tiers it has are read from /proc/cpuinfo, apart from the
# library's own detection: a tier the processor has that the programs cannot
# run fails the stage, and a tier it lacks is listed as not run.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}

flags=$(sed -n 's/^flags[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n 1)
has() { local f; for f in "$@"; do [[ " $flags " == *" $f "* ]] || return 1; done; }

tiers=(scalar)
lacking=()
case "$(uname -m)" in
  x86_64)
    has sse2 && tiers+=(sse2) || lacking+=(sse2)
    has avx2 bmi2 popcnt && tiers+=(avx2) || lacking+=(avx2)
    has avx512f avx512bw avx512vbmi avx512_vbmi2 avx2 bmi2 && tiers+=(avx512) || lacking+=(avx512) ;;
esac

for tier in "${tiers[@]}"; do
  named=$(VIQR_IMPLEMENTATION=$tier "$build/bin/tonedown" --implementation 2>&1) || true
  if [ "$named" != "$tier" ]; then
    echo "this processor has $tier, but tonedown runs: $named" >&2
    exit 1
  fi
  echo "== The whole suite with VIQR_IMPLEMENTATION=$tier"
  VIQR_IMPLEMENTATION=$tier ctest --test-dir "$build" --output-on-failure -j2 --no-tests=error
done
for tier in "${lacking[@]}"; do
  echo "== $tier: not run, this processor lacks it"
done
echo "tiers run: ${tiers[*]}"
