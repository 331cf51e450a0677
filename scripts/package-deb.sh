#!/usr/bin/env bash
# Builds the Debian package of the Linux program (the linux preset) and
# prints its path: build/linux/quillon_<version>_<arch>.deb.
#   scripts/package-deb.sh        QUILLON_SKIP_BUILD=1 reuses the last build
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${QUILLON_SKIP_BUILD:-0} != 1 ]]; then
  ./scripts/install-deps.sh
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target quillon quillon-site quillon-route quillon_man >/dev/null
fi
(cd build/linux && cpack -G DEB >/dev/null)
ls build/linux/quillon_*.deb
