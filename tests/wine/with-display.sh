#!/usr/bin/env bash
# Runs a command on a virtual X display of its own (Xvfb, 800x600, 24 bit),
# for tests whose windows need one. wine-run.sh's private network namespace
# does not share the display's abstract socket, but X clients fall back to
# its socket file under /tmp/.X11-unix, which the namespace sees.
#
#   with-display.sh COMMAND [ARGS...]
#
# Fails (exit 2) when there is no Xvfb: a test that needs a display must not
# pass without one.
set -euo pipefail
if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null; then
  echo "with-display: xvfb-run or Xvfb not found (apt-get install xvfb xauth)" >&2
  exit 2
fi
exec xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" "$@"
