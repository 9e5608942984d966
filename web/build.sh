#!/bin/sh
# Builds the web page into a folder that any static host can serve:
#   web/build.sh [OUTPUT-FOLDER]      (default: build-web at the top of the tree)
# The library is compiled to WebAssembly (wasm32-wasi) with clang and
# wasi-libc, linked with lld as a reactor: no main, the page calls the viqr_
# functions directly.  No C++ run-time library is linked (no exceptions, no
# RTTI), which keeps the module small.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build-web}
cxx=${WASM_CXX:-clang++}
cc=${WASM_CC:-clang}
objects=$out/obj
mkdir -p "$out" "$objects"

warnings="-Wall -Wextra -Wpedantic"
[ "${CI:-}" = true ] && warnings="$warnings -Werror"
target="--target=wasm32-wasi -O2 -fvisibility=hidden"

# Every source of the library, so that what the programs link the page has too.
for source in "$top"/lib/*.cpp; do
  # shellcheck disable=SC2086 # the flags are separate words
  "$cxx" $target $warnings -std=c++20 -fno-exceptions -fno-rtti \
    -I"$top/include" -I"$top/lib" -c "$source" -o "$objects/$(basename "$source" .cpp).o"
done
# shellcheck disable=SC2086
"$cc" $target $warnings -std=c11 -I"$top/include" -c "$top/web/sizes.c" -o "$objects/web_sizes.o"

# --export-dynamic exports every function with default visibility: the
# library's VIQR_API functions and the page's size queries; malloc and free
# give the page room in the module's memory.
# shellcheck disable=SC2086
"$cxx" $target -mexec-model=reactor -nostdlib++ \
  -Wl,--export-dynamic -Wl,--export=malloc -Wl,--export=free -Wl,--strip-all \
  "$objects"/*.o -o "$out/viqr.wasm"
rm -rf "$objects"

for page_file in index.html viqr-page.js style.css; do
  cp "$top/web/$page_file" "$out/$page_file"
done
echo "web page built in $out ($(wc -c < "$out/viqr.wasm") bytes of WebAssembly)"
