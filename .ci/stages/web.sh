#!/usr/bin/env bash
# The web page: the library compiled to WebAssembly (web/build.sh) and the
# browser tests in Debian's headless Chromium, which compare the page's
# output with the native toneconv's byte for byte.  The screenshots stay in
# build-web/test-output/ as the run's artifacts.
source "$(dirname "$0")/../lib.sh"

install_missing clang lld wasi-libc binaryen chromium recode cmake g++
# The wasm32 run-time pieces go with the release of clang installed.
clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
install_missing "libclang-rt-$clang_major-dev-wasm32" "libc++-$clang_major-dev-wasm32" "libc++abi-$clang_major-dev-wasm32"
# Node and npm from the distribution, unless a Node with its own npm is here.
command -v node >/dev/null || install_missing nodejs
command -v npm >/dev/null || install_missing npm

echo "== The page, with the library in WebAssembly"
rm -rf build-web
web/build.sh build-web

echo "== The native programs the page must agree with"
cmake -S . -B build-web/native -DBUILD_TESTING=OFF >/dev/null
cmake --build build-web/native -j2

echo "== Browser tests in headless Chromium"
(cd tests/web && npm ci --no-audit --no-fund)
node tests/web/run.mjs build-web build-web/native/bin build-web/test-output
ls -l build-web/test-output/*.png
