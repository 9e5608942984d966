#!/usr/bin/env bash
# The README's test command, word for word, from an empty build folder; then
# every test name must be listed once.
source "$(dirname "$0")/../lib.sh"
for command in "$test_command" "$main_job"; do
  grep -qF -- "$command" README.md || { echo "README.md does not show: $command" >&2; exit 1; }
done
rm -rf build
bash -c "$test_command"
# A name with a semicolon is several tests that gtest_discover_tests joined
# into one (after a name ending in a backslash), of which only the first runs.
names=$(ctest --test-dir build -N | sed -n 's/^ *Test *#[0-9]*: //p')
duplicates=$(printf '%s\n' "$names" | sort | uniq -d)
joined=$(printf '%s\n' "$names" | grep ';' || true)
if [ -n "$duplicates$joined" ]; then
  printf '%s\n' "$duplicates" "$joined"
  echo "ctest lists these test names more than once, or several tests under one name" >&2
  exit 1
fi
