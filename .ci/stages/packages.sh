#!/usr/bin/env bash
# The Debian packages the stages need.  dpkg-dev builds the Debian packages;
# groff-base renders the manual pages; pkg-config builds the examples against
# the installed library; lintian checks the Debian packages; hunspell-vi
# holds the syllables the typed reader's tests read back; recode is the oracle
# of toneconv's VPS, TCVN and VNI tables.
source "$(dirname "$0")/../lib.sh"
install_missing cmake g++ clang libgtest-dev python3 groff-base dpkg-dev pkg-config lintian hunspell-vi recode
# The sanitizer and fuzzer runtime of clang N is the package libclang-rt-N-dev
# where the release has one (Debian 12, Ubuntu 24.04); older releases (Ubuntu
# 22.04) ship it in libclang-common-N-dev, which clang already depends on.
clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
if apt-cache show "libclang-rt-$clang_major-dev" >/dev/null 2>&1; then
  install_missing "libclang-rt-$clang_major-dev"
fi
