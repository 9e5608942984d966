#!/usr/bin/env bash
# Usage: bench/make_input.sh MEGABYTES OUTPUT
# Writes MEGABYTES MiB of VISCII text made by repeating the bundled sample.
set -euo pipefail
mb=${1:?megabytes}
out=${2:?output file}
here=$(cd "$(dirname "$0")" && pwd)
sample="$here/../sample/thu-gui-ban-doc.viscii"
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
cp "$sample" "$tmp"
target=$((mb * 1024 * 1024))
while [ "$(stat -c %s "$tmp")" -lt "$target" ]; do
  cat "$tmp" "$tmp" > "$tmp.2" && mv "$tmp.2" "$tmp"
done
head -c "$target" "$tmp" > "$out"
