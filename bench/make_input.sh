#!/usr/bin/env bash
# Usage: [TEXT=sample|debian] bench/make_input.sh MEGABYTES OUTPUT [viscii|utf8]
# Writes MEGABYTES MiB of Vietnamese text, VISCII (the default) or UTF-8,
# repeated from a unit until it is long enough:
#   TEXT=sample  (the default) the bundled sample, a page of text;
#   TEXT=debian  the Vietnamese text that Debian ships, varied and real, about
#                2.5 MB: the translation catalogues, the man pages and the New
#                Maintainers' Guide, as bench/typed_corpus.py collects them
#                (packages manpages-vi, maint-guide-vi, groff, gettext), but
#                the characters VISCII lacks (typographic quotes, dashes).
# UTF-8 output ends at a whole line.
set -euo pipefail
mb=${1:?megabytes}
out=${2:?output file}
encoding=${3:-viscii}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

case ${TEXT:-sample} in
  sample)
    iconv -f VISCII -t UTF-8 "$here/../sample/thu-gui-ban-doc.viscii" > "$tmp/unit" ;;
  debian)
    python3 "$here/typed_corpus.py" "$tmp/corpus" 2> "$tmp/notes" || { cat "$tmp/notes" >&2; exit 1; }
    cat "$tmp/corpus/tuning.txt" "$tmp/corpus/heldout.txt" > "$tmp/unit"
    [ "$(stat -c %s "$tmp/unit")" -gt 100000 ] || { cat "$tmp/notes" >&2; echo "too little Debian text" >&2; exit 1; } ;;
  *)
    echo "TEXT is sample or debian, not ${TEXT}" >&2; exit 1 ;;
esac
# Both forms hold the same characters, so that iconv and recode, which the
# benchmarks run beside the programs, can convert all of them.
iconv -c -f UTF-8 -t VISCII "$tmp/unit" > "$tmp/viscii" || true
case $encoding in
  viscii) mv "$tmp/viscii" "$tmp/text" ;;
  utf8) iconv -f VISCII -t UTF-8 "$tmp/viscii" > "$tmp/text" ;;
  *) echo "the encoding is viscii or utf8, not $encoding" >&2; exit 1 ;;
esac

target=$((mb * 1024 * 1024))
while [ "$(stat -c %s "$tmp/text")" -lt "$target" ]; do
  cat "$tmp/text" "$tmp/text" > "$tmp/text.2" && mv "$tmp/text.2" "$tmp/text"
done
if [ "$encoding" = utf8 ]; then
  head -c "$target" "$tmp/text" | sed '$d' > "$out"
else
  head -c "$target" "$tmp/text" > "$out"
fi
