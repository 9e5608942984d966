#!/usr/bin/env bash
# The converters take text a block at a time with the kernels of the
# processor's implementation; VIQR_SIMD=OFF builds the scalar references
# alone, as other processors have them.  They must pass the same suite.
source "$(dirname "$0")/../lib.sh"
rm -rf build-portable
cmake -S . -B build-portable -DBUILD_TESTING=ON -DVIQR_SIMD=OFF
cmake --build build-portable -j2
ctest --test-dir build-portable --output-on-failure -j2 --no-tests=error
