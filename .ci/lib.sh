# Sourced by .ci/run and by every stage in .ci/stages/: strict mode, the top
# of the source tree as the working folder, CI=true (warnings are errors, a
# missing oracle fails instead of skipping), and the helpers stages share.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export CI=true

# Installed means dpkg's status says so: a package removed but not purged
# still has a record, and "dpkg -s" succeeds for it.
is_installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }

# Installs the Debian packages among "$@" that are missing, once each.
install_missing() {
  local missing=() p
  for p in "$@"; do
    is_installed "$p" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing ${missing[*]}"
    if [ -z "${apt_updated:-}" ]; then apt-get update -qq; apt_updated=1; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    for p in "${missing[@]}"; do
      is_installed "$p" || { echo "$p is still not installed" >&2; exit 1; }
    done
  fi
}

# The README's two set-up commands, word for word; the readme stage checks
# that the README shows them.
test_command='cmake -S . -B build -DBUILD_TESTING=ON && cmake --build build -j2 && ctest --test-dir build --output-on-failure -j2 --no-tests=error'
main_job='cmake -S . -B build -DBUILD_TESTING=OFF && cmake --build build -j2 && ./build/bin/tonedown sample/thu-gui-ban-doc.viscii'

# Stages after the README test command use its build folder; run alone, a
# stage builds it first.
need_test_build() {
  [ -x build/bin/tonedown ] && [ -f build/CTestTestfile.cmake ] && return
  echo "== building the README test build first"
  bash -c "${test_command%% && ctest*}"
}
