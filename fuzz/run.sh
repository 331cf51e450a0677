#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on a copy
# of its seed corpus (fuzz/corpus/<target>), one after the other.
#
#   fuzz/run.sh [SECONDS]            each target for SECONDS (default 30)
#   fuzz/run.sh --runs N             each target for N executions
#   FUZZ_TARGETS="fuzz_ini" fuzz/run.sh 60      only some targets
#   FUZZ_MAX_LEN=1024 fuzz/run.sh --runs N       shorter inputs (default 4096)
#
# Fails when a target cannot be built or run, or finds a crash, a sanitizer
# report or a failed invariant; the input that did it is kept under
# build/fuzz/findings/<target>/. Prints the executions of every target.
set -uo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=30)
case "${1:-}" in
  "") ;;
  --runs) limit=(-runs="${2:?--runs needs a count}") ;;
  *[!0-9]*) echo "usage: fuzz/run.sh [SECONDS | --runs N]" >&2; exit 2 ;;
  *) limit=(-max_total_time="$1") ;;
esac
targets=(${FUZZ_TARGETS:-fuzz_ini fuzz_answer_utf8 fuzz_answer_gbk fuzz_text fuzz_plan})

build=build/fuzz
cxx="${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++)}"
if [ -z "$cxx" ]; then
  echo "fuzz/run.sh: no clang++ (Debian: clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
echo "=== fuzz: build ($cxx)"
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null || exit 1
cmake --build "$build" -j 2 >/dev/null || { cmake --build "$build" -j 1; echo "fuzz/run.sh: the build failed"; exit 1; }

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=()
summary=()
for t in "${targets[@]}"; do
  corpus_name="${t#fuzz_}"
  echo "=== fuzz: $t (${limit[*]})"
  cp -r "fuzz/corpus/$corpus_name" "$work/$corpus_name"
  findings="$build/findings/$t"
  mkdir -p "$findings"
  before=$(find "$findings" -type f | wc -l)
  dict=()
  [ -f "fuzz/$corpus_name.dict" ] && dict=(-dict="fuzz/$corpus_name.dict")
  log="$work/$t.log"
  start=$(date +%s)
  # One process, one input at a time; an input that takes 10 s is a finding.
  "$build/$t" "$work/$corpus_name" "${limit[@]}" "${dict[@]}" -max_len="${FUZZ_MAX_LEN:-4096}" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1
  rc=$?
  seconds=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(( $(find "$findings" -type f | wc -l) - before ))
  line="$t: ${runs:-?} executions in ${seconds} s, exit $rc, new findings $crashes"
  echo "$line"
  summary+=("$line")
  if [ "$rc" -ne 0 ] || [ -z "$runs" ]; then
    tail -n 40 "$log"
    failed+=("$t")
  fi
done

echo "=== fuzz: summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz/run.sh: failed: ${failed[*]} (inputs under $build/findings/)"
  exit 1
fi
