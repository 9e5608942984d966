#!/usr/bin/env bash
# The Debian packages: built, checked by lintian, and their files work.
source "$(dirname "$0")/../lib.sh"
rm -rf build-deb
packaging/build-debs.sh build-deb
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
declare -A package_files=(
  [viqr-tools]="usr/bin/tonedown usr/bin/toneup usr/bin/tonefix usr/bin/toneconv usr/share/man/man1/tonedown.1.gz
                usr/share/man/man1/toneup.1.gz usr/share/man/man1/tonefix.1.gz usr/share/man/man1/toneconv.1.gz"
  [libviqr1]="usr/lib/$multiarch/libviqr.so.1 usr/lib/$multiarch/libviqr.so.1.0.0"
  [libviqr-dev]="usr/include/viqr.h usr/lib/$multiarch/libviqr.a usr/lib/$multiarch/libviqr.so usr/lib/$multiarch/pkgconfig/viqr.pc
                 usr/lib/$multiarch/cmake/viqr/viqrConfig.cmake usr/share/man/man3/viqr.3.gz")
unpacked=$(mktemp -d)
for package in "${!package_files[@]}"; do
  deb=$(echo build-deb/"${package}"_*.deb)
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./||' > "build-deb/$package.contents"
  for f in ${package_files[$package]} "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.gz"; do
    grep -qx "$f" "build-deb/$package.contents" || { echo "$deb lacks /$f"; exit 1; }
  done
  dpkg-deb -x "$deb" "$unpacked"
done
lintian --fail-on error,warning --display-info build-deb/*.deb
echo "lintian: no error and no warning in $(echo build-deb/*.deb)"
# The packages' own files work: the programs round-trip, and the C example
# builds through the packaged CMake package and runs on the packaged library.
[ "$(printf 'Vie^.t\n' | "$unpacked/usr/bin/toneup" | "$unpacked/usr/bin/tonedown")" = '\VVie^.t' ] ||
  { echo "the packaged programs do not round-trip"; exit 1; }
cmake -S examples -B "$unpacked/examples" -DCMAKE_PREFIX_PATH="$unpacked/usr" >/dev/null
cmake --build "$unpacked/examples" --target viqr_filter_c >/dev/null
"$unpacked/usr/bin/tonedown" sample/thu-gui-ban-doc.viscii |
  LD_LIBRARY_PATH="$unpacked/usr/lib/$multiarch" "$unpacked/examples/viqr_filter_c" up |
  cmp - sample/thu-gui-ban-doc.viscii || { echo "the packaged library does not convert"; exit 1; }
echo "the packaged programs and library convert the sample"
rm -rf "$unpacked"
