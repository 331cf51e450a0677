#!/usr/bin/env bash
# The race check: builds the linux-tsan preset (the unit tests and the Qt
# offscreen GUI tests, with ThreadSanitizer) and runs its tests through
# CTest. Any ThreadSanitizer report (a data race, or a lock-order inversion
# that could deadlock) fails its test at once; a watchdog fails a stress test
# that hangs. Apart from scripts/test.sh because the instrumented build takes
# several minutes of its own.
set -uo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh || exit 1

jobs="$(nproc 2>/dev/null || echo 2)"
echo "=== configure and build: linux-tsan"
cmake --preset linux-tsan >/dev/null || { echo "test-tsan.sh: configure failed"; exit 1; }
cmake --build --preset linux-tsan -j "$jobs" || { echo "test-tsan.sh: the build failed"; exit 1; }
echo "=== tests: linux-tsan"
ctest --preset linux-tsan || { echo "test-tsan.sh: tests failed"; exit 1; }
