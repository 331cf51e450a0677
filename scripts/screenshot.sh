#!/bin/sh
# Screenshot of a program's window on a virtual X display.
#
#   scripts/screenshot.sh OUT.png PROGRAM [ARGS...]
#
# Runs PROGRAM under Xvfb (800x600, 24 bit), waits until a window whose name
# contains $SCREENSHOT_TITLE (default "Quillon") is mapped, lets it paint for
# $SCREENSHOT_SETTLE seconds (default 1), saves the whole screen to OUT.png
# and ends the program. Xvfb has no window manager, so there is no title bar:
# the shot shows the window's client area where the program placed it.
# Needs xvfb-run (xvfb, xauth), xwininfo (x11-utils) and import (imagemagick).
set -eu

if [ "${1:-}" != "--on-display" ]; then
  if [ $# -lt 2 ]; then
    echo "usage: $0 OUT.png PROGRAM [ARGS...]" >&2
    exit 2
  fi
  exec xvfb-run -a -s "-screen 0 800x600x24" "$0" --on-display "$@"
fi
shift
out=$1
shift
title=${SCREENSHOT_TITLE:-Quillon}
settle=${SCREENSHOT_SETTLE:-1}

"$@" &
pid=$!
stop() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
trap stop EXIT

# Wait (at most 20 s) for the window to be mapped.
found=
for _ in $(seq 1 200); do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "screenshot: the program ended before its window appeared" >&2
    exit 1
  fi
  id=$(xwininfo -root -tree 2>/dev/null | grep -F -- "\"$title" | head -n 1 | awk '{print $1}')
  if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
    found=1
    break
  fi
  sleep 0.1
done
if [ -z "$found" ]; then
  echo "screenshot: no window named like \"$title\" appeared" >&2
  exit 1
fi
sleep "$settle"
import -window root "$out"
echo "screenshot: $out"
