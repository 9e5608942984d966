#!/usr/bin/env bash
# The library from outside: installed to a staging prefix, it exports exactly
# the C interface, and the examples use it from C, C++ and Python.
source "$(dirname "$0")/../lib.sh"
need_test_build
stage=$(mktemp -d)
cmake --install build --prefix "$stage" >/dev/null
shared="$stage/lib/libviqr.so.1"
for f in "$shared" "$stage/lib/libviqr.a" "$stage/lib/libviqr.so" "$stage/include/viqr.h" \
         "$stage/lib/pkgconfig/viqr.pc" "$stage/lib/cmake/viqr/viqrConfig.cmake" "$stage/share/man/man3/viqr.3.gz" "$stage/share/man/man3/viqr_feed.3.gz"; do
  [ -e "$f" ] || { echo "cmake --install --prefix left no $f"; exit 1; }
done
[ "$(readelf -d "$shared" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" = libviqr.so.1 ] ||
  { echo "$shared has not the SONAME libviqr.so.1"; exit 1; }

# The shared library exports exactly the functions that viqr.h declares with
# VIQR_API, all named viqr_: no C++ (mangled) name, no internal one.
exported=$(nm -D --defined-only "$shared" | awk '{ print $3 }' | sort)
declared=$(sed -n 's/^VIQR_API [^(]*[ *]\(viqr_[a-z0-9_]*\)(.*/\1/p' include/viqr.h | sort)
if [ -z "$exported" ] || [ "$exported" != "$declared" ] || printf '%s\n' "$exported" | grep -v '^viqr_'; then
  printf 'exported:\n%s\ndeclared in viqr.h:\n%s\n' "$exported" "$declared"
  echo "$shared must export exactly the VIQR_API functions of viqr.h"; exit 1
fi
echo "nm -D --defined-only $shared: $(echo $exported)"
# The same from the other side: every global of the library outside
# viqr::detail is a viqr_ C function.  A C++ function of viqr.h defined in
# lib/ (rather than inline over a C function) would be missing from the
# shared library, and shows here.
stray=$(nm -C --defined-only -g build/lib/libviqr.a | awk '$2 ~ /^[TDBR]$/ { print substr($0, index($0, $3)) }' |
  grep -v -e '^viqr_[a-z0-9_]*$' -e '^viqr::detail::' || true)
[ -z "$stray" ] || { printf '%s\n' "$stray"; echo "libviqr.a defines these outside the C interface and viqr::detail"; exit 1; }

examples=$(mktemp -d)
sample=sample/thu-gui-ban-doc.viscii
build/bin/tonedown "$sample" > "$examples/expected.viqr"
build/bin/toneup "$examples/expected.viqr" > "$examples/expected.viscii"
cmp "$examples/expected.viscii" "$sample"
strict=(-Wall -Wextra -Wpedantic -Werror)
export PKG_CONFIG_PATH="$stage/lib/pkgconfig"
# shellcheck disable=SC2046 # pkg-config's words are separate arguments
{
  cc -std=c99 "${strict[@]}" examples/viqr_filter.c $(pkg-config --cflags --libs viqr) -o "$examples/c-pkg-config"
  c++ -std=c++17 "${strict[@]}" examples/viqr_filter.cpp $(pkg-config --cflags --libs viqr) -o "$examples/cpp-pkg-config"
  # A C program can take the static library too: it needs no C++ runtime.
  cc -std=c99 "${strict[@]}" examples/viqr_filter.c $(pkg-config --cflags viqr) "$stage/lib/libviqr.a" \
    -o "$examples/c-static"
}
CFLAGS="${strict[*]}" CXXFLAGS="${strict[*]}" \
  cmake -S examples -B "$examples/find-package" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$examples/find-package" >/dev/null
cp "$examples/find-package/viqr_filter_c" "$examples/c-find-package"
cp "$examples/find-package/viqr_filter_cpp" "$examples/cpp-find-package"
for example in c-pkg-config cpp-pkg-config c-static c-find-package cpp-find-package; do
  program="$examples/$example"
  if [ "$example" != c-static ]; then
    loaded=$(LD_LIBRARY_PATH="$stage/lib" ldd "$program")
    grep -q " => $stage/lib/libviqr.so.1 " <<< "$loaded" ||
      { printf '%s\n' "$loaded"; echo "$example does not load the installed libviqr.so.1"; exit 1; }
  fi
  LD_LIBRARY_PATH="$stage/lib" "$program" down < "$sample" | cmp - "$examples/expected.viqr" ||
    { echo "$example down differs from tonedown"; exit 1; }
  LD_LIBRARY_PATH="$stage/lib" "$program" up < "$examples/expected.viqr" | cmp - "$examples/expected.viscii" ||
    { echo "$example up differs from toneup"; exit 1; }
  echo "$example: down and up write what tonedown and toneup write"
done
python3 examples/viqr_ctypes.py "$shared" "$sample" "$examples/expected.viqr"
rm -rf "$stage" "$examples"
