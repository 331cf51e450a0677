#!/usr/bin/env bash
# The test command: installs what is needed (Debian 12, as root), builds the
# three presets and runs every test through CTest:
#   windows     the mingw-w64 build; its tests run under Wine in a private
#               network namespace (code page 936)
#   linux-asan  unit and contract tests again with ASan and UBSan
#   linux       unit, contract, GUI (offscreen), network-namespace and site
#               tests
# then the short fuzz pass: each libFuzzer target for 30 s on a copy of its
# seed corpus (fuzz/run.sh, clang).
set -uo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh || exit 1

jobs="$(nproc 2>/dev/null || echo 2)"
build() {
  echo "=== configure and build: $1"
  cmake --preset "$1" >/dev/null || return 1
  cmake --build --preset "$1" -j "$jobs" || return 1
}

for preset in windows linux-asan linux; do
  build "$preset" || { echo "test.sh: the $preset build failed"; exit 1; }
done

failed=()
for preset in windows linux-asan linux; do
  echo "=== tests: $preset"
  ctest --preset "$preset" || failed+=("$preset")
done

echo "=== fuzz: each target for 30 s"
fuzz/run.sh 30 || failed+=("fuzz")

if [ ${#failed[@]} -gt 0 ]; then
  echo "test.sh: tests failed in: ${failed[*]}"
  exit 1
fi
