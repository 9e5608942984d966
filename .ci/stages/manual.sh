#!/usr/bin/env bash
# The manual pages render without a warning from groff, and cmake --install
# puts the programs and their pages under DESTDIR and the prefix.
source "$(dirname "$0")/../lib.sh"
need_test_build
for page in man/*.1 man/*.3; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    printf '%s\n' "$warnings"
    echo "$page: groff warns"
    exit 1
  fi
  echo "$page: renders without a warning"
done

stage=$(mktemp -d)
DESTDIR="$stage" cmake --install build --prefix /usr/local
installed_files=(bin/tonedown bin/toneup bin/tonefix bin/toneconv
  share/man/man1/tonedown.1.gz share/man/man1/toneup.1.gz share/man/man1/tonefix.1.gz share/man/man1/toneconv.1.gz)
for f in "${installed_files[@]}"; do
  [ -f "$stage/usr/local/$f" ] || { echo "cmake --install left no /usr/local/$f"; exit 1; }
done
[ "$(printf 'Vie^.t\n' | "$stage/usr/local/bin/toneup" | "$stage/usr/local/bin/tonedown")" = '\VVie^.t' ] ||
  { echo "the installed programs do not round-trip"; exit 1; }
echo "installed under DESTDIR: ${installed_files[*]}"
rm -rf "$stage"
