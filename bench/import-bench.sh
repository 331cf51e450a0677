#!/usr/bin/env bash
# The import benchmark: builds the linux preset (QUILLON_SKIP_BUILD=1 reuses
# the last build) and imports prepared files of N sections (default 1000 and
# 10000) into a fresh split store, then again into the filled one.
#   bench/import-bench.sh [N...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${QUILLON_SKIP_BUILD:-0} != 1 ]]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target quillon_bench_import >/dev/null
fi
exec build/linux/bench/quillon_bench_import "$@"
