#!/usr/bin/env bash
# The converters take text a block at a time with SSE2 and, where the
# processor has it, AVX-512; VIQR_NO_SIMD leaves only the plain loops, which
# other processors run.  They must pass the same suite.
source "$(dirname "$0")/../lib.sh"
rm -rf build-portable
cmake -S . -B build-portable -DBUILD_TESTING=ON -DCMAKE_CXX_FLAGS=-DVIQR_NO_SIMD
cmake --build build-portable -j2
ctest --test-dir build-portable --output-on-failure -j2 --no-tests=error
