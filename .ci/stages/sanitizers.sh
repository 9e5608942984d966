#!/usr/bin/env bash
# The whole suite built with Clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, first proving that the build is instrumented.
source "$(dirname "$0")/../lib.sh"
rm -rf build-sanitize
CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
cmake --build build-sanitize -j2
ctest --test-dir build-sanitize --output-on-failure --no-tests=error -R '^SanitizerBuild\.'
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 --no-tests=error
