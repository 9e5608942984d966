#!/usr/bin/env bash
# Builds the Debian packages viqr-tools, libviqr1 and libviqr-dev:
#   packaging/build-debs.sh [OUT]        (OUT defaults to build-deb/)
# It configures and builds the programs and the library in OUT/tree for the
# prefix /usr (Release, no tests), then, for each package that
# packaging/debian.cmake lists: installs its component into a staging root
# (stripped), adds the copyright file and the changelog, works out the shared
# libraries its programs and libraries need (dpkg-shlibdeps), gives a shared
# library its shlibs file and the ldconfig trigger, and builds
# OUT/PACKAGE_VERSION_ARCH.deb owned by root.  Needs cmake, a C++ compiler,
# dpkg-dev and gzip.
set -euo pipefail
umask 022

source_dir=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$source_dir/build-deb}" && cd "${1:-$source_dir/build-deb}" && pwd)
tree="$out/tree"
cmake -S "$source_dir" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF >/dev/null
cmake --build "$tree" -j2 --target tonedown toneup tonefix toneconv viqr viqr_shared manual_pages debian_changelog >/dev/null

facts="$tree/packaging"
version=$(head -n 1 "$facts/packages")
arch=$(dpkg --print-architecture)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tail -n +2 "$facts/packages" | while read -r package component; do
  root="$work/$package"
  DESTDIR="$root" cmake --install "$tree" --component "$component" --strip >/dev/null
  doc="$root/usr/share/doc/$package"
  install -d "$doc"
  install -m 644 "$facts/copyright" "$facts/changelog.gz" "$doc/"
  # Static libraries keep their symbols; nothing keeps the compilers' notes.
  find "$root" -name '*.a' -exec strip --strip-debug --remove-section=.comment --remove-section=.note {} +

  install -d "$root/DEBIAN"
  control="$root/DEBIAN/control"
  cp "$facts/$package.control" "$control"

  # Executables and shared libraries (not their links) decide the dependencies.
  mapfile -t elf < <(find "$root/usr" -type f \( -perm -u+x -o -name '*.so.*' \) -print | sort)
  [ ${#elf[@]} -eq 0 ] || strip --remove-section=.comment --remove-section=.note "${elf[@]}"
  if [ ${#elf[@]} -gt 0 ]; then
    # dpkg-shlibdeps wants a source package's debian/control to stand in.
    mkdir -p "$work/shlibdeps/debian"
    : > "$work/shlibdeps/debian/control"
    depends=$(cd "$work/shlibdeps" && dpkg-shlibdeps -O "${elf[@]}" | sed -n 's/^shlibs:Depends=//p')
    if [ -n "$depends" ]; then
      if grep -q '^Depends: ' "$control"; then
        sed -i "s/^Depends: \(.*\)/Depends: $depends, \1/" "$control"
      else
        sed -i "/^Description: /i Depends: $depends" "$control"
      fi
    fi
  fi

  # A shared library: whoever links it depends on this package, and ldconfig
  # runs once after dpkg has unpacked everything.
  shlibs=""
  for library in "${elf[@]}"; do
    soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [[ $soname =~ ^(.+)\.so\.([0-9]+)$ ]] || continue
    shlibs+="${BASH_REMATCH[1]} ${BASH_REMATCH[2]} $package (>= $version)"$'\n'
  done
  if [ -n "$shlibs" ]; then
    printf '%s' "$shlibs" > "$root/DEBIAN/shlibs"
    echo 'activate-noawait ldconfig' > "$root/DEBIAN/triggers"
  fi

  installed_size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
  sed -i "/^Maintainer: /a Architecture: $arch\nInstalled-Size: $installed_size" "$control"
  (cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
  chmod 644 "$root"/DEBIAN/*

  deb="$out/${package}_${version}_${arch}.deb"
  dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "$deb"
done
