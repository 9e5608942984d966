#!/usr/bin/env bash
# The main job needs neither GoogleTest nor the test suites.  In a fresh clone
# and with GoogleTest's files hidden (.ci/without-googletest): the test
# command must stop at configure time, and the main-job command must build
# the programs and nothing else.  The compilers' dependency files (*.d) list
# every header each object was built from; none may be GoogleTest's.
source "$(dirname "$0")/../lib.sh"
need_test_build
fresh=$(mktemp -d)
git clone --quiet . "$fresh/src"
hiding=0
.ci/without-googletest true || hiding=$?
if [ "$hiding" -ne 0 ] && [ "$hiding" -ne 2 ]; then
  echo "GoogleTest could not be hidden" >&2
  exit 1
fi
if [ "$hiding" -eq 0 ]; then
  if (cd "$fresh/src" && .ci/without-googletest bash -c "$test_command" > "$fresh/test-command.log" 2>&1); then
    cat "$fresh/test-command.log"
    echo "the test command passed without GoogleTest" >&2
    exit 1
  fi
  grep -q "Could NOT find GTest" "$fresh/test-command.log" ||
    { cat "$fresh/test-command.log"; echo "the test command failed, but not for want of GoogleTest" >&2; exit 1; }
  echo "without GoogleTest the test command stops: $(grep -m1 'Could NOT find GTest' "$fresh/test-command.log")"
  rm -rf "$fresh/src/build"
  start=$SECONDS
  (cd "$fresh/src" && .ci/without-googletest bash -c "$main_job" > "$fresh/main-job.out")
  echo "the main-job command ran without GoogleTest in $((SECONDS - start)) s"
else
  echo "GoogleTest cannot be hidden here; the dependency files alone show that the main job does not use it"
  (cd "$fresh/src" && bash -c "$main_job" > "$fresh/main-job.out")
fi
# Its output ends with the sample converted, as the README's test build converts it.
build/bin/tonedown sample/thu-gui-ban-doc.viscii > "$fresh/expected"
tail -c "$(wc -c < "$fresh/expected")" "$fresh/main-job.out" | cmp - "$fresh/expected"
built=$(cd "$fresh/src/build/bin" && ls | tr '\n' ' ')
[ "$built" = "toneconv tonedown tonefix toneup " ] || { echo "the main job built: $built" >&2; exit 1; }
if grep -rlE 'gtest|gmock' --include='*.d' "$fresh/src/build"; then
  echo "the main job compiled GoogleTest headers" >&2
  exit 1
fi
rm -rf "$fresh"
