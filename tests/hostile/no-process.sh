#!/usr/bin/env bash
# Runs PROGRAM [ARGS...] under strace and fails when it starts any other
# program (an execve besides its own), or when PROGRAM itself fails.
set -uo pipefail
command -v strace >/dev/null 2>&1 || { echo "no-process: strace not found (apt-get install strace)" >&2; exit 1; }
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
strace -f -qq -e trace=execve,execveat -o "$log" "$@"
rc=$?
started=$(grep -c 'execve' "$log")
if [ "$started" -ne 1 ]; then
  echo "no-process: $((started - 1)) other program(s) started:" >&2
  grep 'execve' "$log" | tail -n +2 >&2
  exit 1
fi
echo "no-process: no other program was started"
exit "$rc"
