#!/bin/sh
# Builds the web page into a folder that any static host can serve:
#   web/build.sh [OUTPUT-FOLDER]      (default: build-web at the top of the tree)
# The library is compiled to WebAssembly (wasm32-wasi) with clang and
# wasi-libc, linked with lld as a reactor: no main, the page calls the viqr_
# functions directly.  The C++ run-time libraries (libc++, libc++abi) give
# the allocation operators and the type information the library's handlers
# name; the linker keeps only what is used (a few kilobytes).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build-web}
cxx=${WASM_CXX:-clang++}
wasm_opt=${WASM_OPT:-wasm-opt}
command -v "$wasm_opt" >/dev/null || { echo "$0: needs wasm-opt (Debian package binaryen)" >&2; exit 1; }
objects=$out/obj
mkdir -p "$out" "$objects"

warnings="-Wall -Wextra -Wpedantic"
[ "${CI:-}" = true ] && warnings="$warnings -Werror"
target="--target=wasm32-wasi -O2 -fvisibility=hidden"
# Without WebAssembly's exception handling a try block compiles to its body
# alone, and nothing is ever thrown: the run-time libraries are built
# without exceptions (operator new stops the module when memory runs out,
# which the page reports), and _LIBCPP_NO_EXCEPTIONS makes libc++'s headers
# stop rather than throw too.  -fexceptions only lets the library's handlers
# compile.
cxxflags="-std=c++20 -fexceptions -D_LIBCPP_NO_EXCEPTIONS -fno-rtti"

# Every source of the library, so that what the programs link the page has
# too, with the scalar implementation of the fast paths: the one every
# processor without its own kernels runs.
for source in "$top"/lib/*.cpp "$top"/lib/impl/scalar/*.cpp; do
  # shellcheck disable=SC2086 # the flags are separate words
  "$cxx" $target $warnings $cxxflags \
    -I"$top/include" -I"$top/lib" -I"$top/lib/for_programs" -c "$source" -o "$objects/$(basename "$source" .cpp).o"
done
# shellcheck disable=SC2086
"$cxx" $target $warnings $cxxflags -I"$top/include" -c "$top/web/runtime.cpp" -o "$objects/web_runtime.o"

# --export-dynamic exports every function with default visibility: the
# library's VIQR_API functions and web/runtime.cpp's queries; malloc and free
# give the page room in the module's memory.
# shellcheck disable=SC2086
"$cxx" $target -mexec-model=reactor -nostdlib++ \
  -Wl,--export-dynamic -Wl,--export=malloc -Wl,--export=free -Wl,--strip-all \
  "$objects"/*.o -lc++ -lc++abi -o "$objects/viqr.wasm"
# The linker writes each table whole, zeros included; binaryen's wasm-opt
# leaves the runs of zeros out of the data (memory starts zeroed), which
# takes the converters' sparse tables from over 300 KB to under 200 KB.
"$wasm_opt" --memory-packing "$objects/viqr.wasm" -o "$out/viqr.wasm"
rm -rf "$objects"

for page_file in index.html viqr-page.js style.css; do
  cp "$top/web/$page_file" "$out/$page_file"
done
echo "web page built in $out ($(wc -c < "$out/viqr.wasm") bytes of WebAssembly)"
