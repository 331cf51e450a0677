#!/usr/bin/env bash
# Runs PROGRAM [ARGS...] under strace and fails when it starts any program
# besides itself and the route helper (QUILLON_ROUTE_HELPER, the one program
# Quillon hands route plans to), or when PROGRAM itself fails.
set -uo pipefail
command -v strace >/dev/null 2>&1 || { echo "no-process: strace not found (apt-get install strace)" >&2; exit 1; }
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
strace -f -qq -e trace=execve,execveat -o "$log" "$@"
rc=$?
others=$(grep 'execve' "$log" | tail -n +2 | grep -vF "\"${QUILLON_ROUTE_HELPER:-/nonexistent}\"")
if [ -n "$others" ]; then
  echo "no-process: other program(s) started:" >&2
  echo "$others" >&2
  exit 1
fi
echo "no-process: no program but the route helper was started ($(grep -c 'execve' "$log") execve in all)"
exit "$rc"
