#!/usr/bin/env bash
# Builds and runs Quillon on Debian 12 (as root, from a fresh clone):
#
#   scripts/run.sh [QUILLON ARGS...]        e.g. scripts/run.sh --home /tmp/quillon
#   scripts/run.sh --windows [QUILLON ARGS...]   the Windows program under Wine
#
#  1. installs the packages (scripts/install-deps.sh),
#  2. configures the `linux` preset (build/linux) and builds only what it
#     runs: Quillon and the bundled config site (targets quillon and
#     quillon-site; the tests are left for scripts/test.sh),
#  3. starts its own config site (quillon-site) on 127.0.0.1, at a port the
#     kernel picks, and waits until the site reports that port; a server
#     that already answers on some port is never used,
#  4. runs Quillon with --site 127.0.0.1:PORT and the arguments given here,
#  5. stops the site when Quillon ends, and exits with Quillon's exit code.
#
# Without a display ($DISPLAY and $WAYLAND_DISPLAY both empty) Quillon runs on
# a virtual X display (Xvfb): a few seconds after its window appears the whole
# screen is saved to build/run-screenshot.png. Nobody can answer its message
# box there, so Quillon is then stopped; the script exits with 0 when the
# screenshot was taken (Quillon's own exit code when it ended by itself).
#
# With --windows (or QUILLON_WINDOWS=1) it builds quillon.exe (the `windows`
# preset) and the site (the `linux` preset's quillon-site only) and runs
# quillon.exe under Wine (tests/wine/wine-run.sh: a private network
# namespace, code page 936) on a Wine desktop of 800x600. The site runs inside
# that namespace, on its 127.0.0.1 at the default port (18080): nothing else
# can listen in there. There are no lines in the namespace, so the line
# selectors stay empty; arguments for quillon.exe take Windows paths
# (Z:\tmp\quillon for /tmp/quillon). The exit code is Wine's. Without a
# display the screenshot goes to build/run-screenshot-windows.png.
#
# The site's address and pages come from the build tree
# (generated/quillon/site.sh, written by CMake from cmake/site.cmake).
#
# Environment:
#   QUILLON_WINDOWS=1     the same as --windows
#   QUILLON_NO_SITE=1     do not start the site: Quillon is sent to the default
#                         site (127.0.0.1:18080) and shows its start failure
#                         box, as on a machine that cannot reach the site (the
#                         script warns when something answers there)
#   QUILLON_SITE_PORT=N   the site's port instead of one the kernel picks; the
#                         script stops when the site cannot listen there
#   QUILLON_SKIP_BUILD=1  skip steps 1 and 2 and use the binaries already built
#   QUILLON_BUILD_DIR=DIR take the binaries from DIR (app/quillon,
#                         site/quillon-site) instead of build/linux; skips
#                         steps 1 and 2
#   QUILLON_SHOT_DELAY=S  seconds between the window's appearance and the
#                         screenshot under Xvfb (default 3)
set -euo pipefail

say() { printf 'run.sh: %s\n' "$*" >&2; }

# ---------------------------------------------------------------- inner part
# Runs on the virtual display that xvfb-run made:
#   run.sh --on-xvfb SHOT.png QUILLON [ARGS...]
if [[ ${1:-} == --on-xvfb ]]; then
  shift
  shot=$1
  shift
  delay=${QUILLON_SHOT_DELAY:-3}

  # The outer part stops this part (and so Quillon) with SIGTERM by this pid;
  # xvfb-run then ends its X server and cleans up as usual.
  if [[ -n ${QUILLON_RUN_PIDFILE:-} ]]; then
    echo $$ >"$QUILLON_RUN_PIDFILE"
  fi
  pid=
  sleeper=
  # shellcheck disable=SC2317  # runs from the traps
  stop_quillon() {
    if [[ -n $sleeper ]]; then
      kill "$sleeper" 2>/dev/null || true
    fi
    if [[ -n $pid ]]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
    exit "$1"
  }
  trap 'stop_quillon 143' TERM
  trap 'stop_quillon 130' INT

  "$@" &
  pid=$!
  say "Quillon started on virtual display $DISPLAY (pid $pid)"

  # Wait (at most 20 s) until the program has a mapped window with a name:
  # the main window or one of its message boxes.
  viewable_window() {
    local id
    for id in $(xwininfo -root -tree 2>/dev/null | awk '$1 ~ /^0x/ && $2 ~ /^"/ {print $1}'); do
      if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
        return 0
      fi
    done
    return 1
  }
  seen=
  for _ in $(seq 1 200); do
    if ! kill -0 "$pid" 2>/dev/null; then
      break
    fi
    if viewable_window; then
      seen=1
      break
    fi
    sleep 0.1
  done
  if ! kill -0 "$pid" 2>/dev/null; then
    set +e
    wait "$pid"
    rc=$?
    set -e
    say "Quillon ended by itself before a screenshot was taken (exit code $rc)"
    exit "$rc"
  fi
  if [[ -z $seen ]]; then
    say "no window showed up within 20 s; taking the screenshot anyway"
  fi
  # In the background, so that a signal is handled without waiting for it.
  sleep "$delay" &
  sleeper=$!
  wait "$sleeper"
  sleeper=

  shot_rc=0
  if import -window root "$shot"; then
    say "screenshot saved: $shot"
  else
    shot_rc=1
    say "the screenshot could not be taken"
  fi

  if kill -0 "$pid" 2>/dev/null; then
    say "stopping Quillon (pid $pid): on the virtual display nobody can answer its message box"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit "$shot_rc"
  fi
  set +e
  wait "$pid"
  rc=$?
  set -e
  say "Quillon ended by itself (exit code $rc)"
  exit "$rc"
fi

# ---------------------------------------------------------------- outer part
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
build_dir=${QUILLON_BUILD_DIR:-$repo/build/linux}
windows=
if [[ ${1:-} == --windows ]]; then
  windows=1
  shift
elif [[ ${QUILLON_WINDOWS:-} == 1 ]]; then
  windows=1
fi
if [[ -n ${QUILLON_SITE_PORT:-} && ! ${QUILLON_SITE_PORT} =~ ^[1-9][0-9]*$ ]]; then
  say "QUILLON_SITE_PORT is not a port: $QUILLON_SITE_PORT"
  exit 2
fi

if [[ -n $windows && ${QUILLON_SKIP_BUILD:-} != 1 ]]; then
  say "installing the packages (scripts/install-deps.sh)"
  "$repo/scripts/install-deps.sh"
  say "configuring the windows preset and building quillon.exe into $repo/build/windows"
  cmake --preset windows
  cmake --build --preset windows --target quillon
  if [[ ${QUILLON_NO_SITE:-} != 1 && -z ${QUILLON_BUILD_DIR:-} ]]; then
    say "configuring the linux preset and building the config site into $build_dir"
    cmake --preset linux
    cmake --build --preset linux --target quillon-site
  fi
elif [[ -n $windows ]]; then
  say "not building: using the binaries in $repo/build/windows and $build_dir"
elif [[ ${QUILLON_SKIP_BUILD:-} != 1 && -z ${QUILLON_BUILD_DIR:-} ]]; then
  say "installing the packages (scripts/install-deps.sh)"
  "$repo/scripts/install-deps.sh"
  say "configuring the linux preset and building Quillon and the config site into $build_dir"
  cmake --preset linux
  cmake --build --preset linux --target quillon quillon-site
else
  say "not building: using the binaries in $build_dir"
fi

quillon=
candidates=("$build_dir/app/quillon" "$build_dir/quillon")
if [[ -n $windows ]]; then
  candidates=("$repo/build/windows/app/quillon.exe")
fi
for candidate in "${candidates[@]}"; do
  if [[ -x $candidate ]]; then
    quillon=$candidate
    break
  fi
done
if [[ -z $quillon ]]; then
  say "no Quillon program (looked for ${candidates[*]})"
  exit 1
fi
site_bin=$build_dir/site/quillon-site

# The config site's address and pages, and quillon_site_start, from the
# configured build tree.
site_sh=
for candidate in "$build_dir/generated/quillon/site.sh" "$repo/build/windows/generated/quillon/site.sh"; do
  if [[ -f $candidate ]]; then
    site_sh=$candidate
    break
  fi
done
[[ -n $site_sh ]] || { say "no generated/quillon/site.sh in $build_dir (configure it: cmake --preset linux)"; exit 1; }
# shellcheck source=/dev/null
. "$site_sh"

# The program's version, from project(VERSION) in CMakeLists.txt.
version=$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { say "no project(Quillon VERSION ...) in CMakeLists.txt"; exit 1; }

# The body of the version gate's answer for $version at HOST:PORT, through
# bash's /dev/tcp (no curl needed). Fails when nothing answers.
probe_gate() {
  local reply
  reply=$(
    exec 2>/dev/null
    exec 3<>"/dev/tcp/${1%:*}/${1##*:}" || exit 1
    printf 'GET %s?v=%s HTTP/1.0\r\nHost: %s\r\nAccept: */*\r\n\r\n' "$QUILLON_SITE_GATE_PATH" "$version" "$1" >&3
    timeout 3 cat <&3
  ) || return 1
  [[ $reply == HTTP/* ]] || return 1
  printf '%s' "${reply#*$'\r\n\r\n'}"
}

child_pid=      # Quillon, or xvfb-run with Quillon inside
inner_pidfile=  # where the part under xvfb-run leaves its pid
# shellcheck disable=SC2317  # runs from the traps
stop_child() {
  if [[ -z $child_pid ]] || ! kill -0 "$child_pid" 2>/dev/null; then
    return 0
  fi
  say "stopping Quillon"
  if [[ -n $inner_pidfile && -s $inner_pidfile ]]; then
    kill "$(cat "$inner_pidfile")" 2>/dev/null || true
  else
    kill "$child_pid" 2>/dev/null || true
  fi
  wait "$child_pid" 2>/dev/null || true
  child_pid=
}
# shellcheck disable=SC2317
stop_site() {
  if [[ -n ${quillon_site_pid:-} ]]; then
    say "stopping the config site (pid $quillon_site_pid)"
    quillon_site_stop
  fi
}
# shellcheck disable=SC2317
clean_up() {
  stop_child
  stop_site
  if [[ -n $inner_pidfile ]]; then
    rm -f "$inner_pidfile"
  fi
}
trap clean_up EXIT
trap 'say "interrupted"; exit 130' INT
trap 'say "terminated"; exit 143' TERM

if [[ -n $windows ]]; then
  # Wine runs in a network namespace of its own: the site runs in there, on
  # the default port (or QUILLON_SITE_PORT), where nothing else can listen.
  site_addr=$QUILLON_SITE_ADDRESS:${QUILLON_SITE_PORT:-$QUILLON_SITE_DEFAULT_PORT}
  if [[ ${QUILLON_NO_SITE:-} == 1 ]]; then
    say "QUILLON_NO_SITE=1: not starting the config site; Quillon's version gate will fail"
  else
    [[ -x $site_bin ]] || { say "no config site program at $site_bin"; exit 1; }
    say "the config site runs inside Wine's private network namespace on $site_addr"
    QUILLON_WINE_SIDECAR=$(printf '%q ' "$site_bin" --listen "$QUILLON_SITE_ADDRESS" --port "${site_addr##*:}" \
      --root "$repo/site")
    export QUILLON_WINE_SIDECAR QUILLON_WINE_SIDECAR_PORT=${site_addr##*:}
  fi
elif [[ ${QUILLON_NO_SITE:-} == 1 ]]; then
  site_addr=$QUILLON_SITE_ADDRESS:${QUILLON_SITE_PORT:-$QUILLON_SITE_DEFAULT_PORT}
  say "QUILLON_NO_SITE=1: not starting the config site; Quillon's version gate will fail"
  if probe_gate "$site_addr" >/dev/null; then
    say "warning: something already answers on $site_addr, so the gate may pass after all"
  fi
else
  if [[ ! -x $site_bin ]]; then
    say "no config site program at $site_bin"
    exit 1
  fi
  site_log=$repo/build/run-site.log
  mkdir -p "$(dirname "$site_log")"
  : >"$site_log"
  if ! quillon_site_start "$site_bin" "$repo/site" "$site_log" "${QUILLON_SITE_PORT:-0}"; then
    say "the config site did not start:"
    sed 's/^/  /' "$site_log" >&2
    exit 1
  fi
  site_addr=$quillon_site_host
  say "started the config site on $site_addr (pid $quillon_site_pid, log: $site_log)"
  if body=$(probe_gate "$site_addr") && [[ $body == 1 ]]; then
    say "the config site answers: version gate passes for $version"
  else
    say "the config site answers, but its version gate says '${body:-}' for $version (see site/config/accepted-versions.txt)"
  fi
fi

# Quillon runs in the background and this shell waits for it, so that a
# signal to this script is handled at once (stop Quillon, stop the site).
# Waits for the job just started in the background; its status goes to rc.
wait_for_child() {
  child_pid=$!
  set +e
  wait "$child_pid"
  rc=$?
  set -e
  child_pid=
}
# The command that runs Quillon.
command=("$quillon" --site "$site_addr" "$@")
shot=$repo/build/run-screenshot.png
if [[ -n $windows ]]; then
  # Wine's virtual desktop: the window gets its frame without a window manager.
  command=("$repo/tests/wine/wine-run.sh" "$repo/build/windows/wine" explorer "/desktop=Quillon,800x600"
           "Z:${quillon//\//\\}" --site "$site_addr" "$@")
  shot=$repo/build/run-screenshot-windows.png
fi
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  inner_pidfile=$(mktemp)
  say "no display: running Quillon under Xvfb (800x600); screenshot to $shot"
  say "command: ${command[*]}"
  QUILLON_RUN_PIDFILE=$inner_pidfile xvfb-run -a -s "-screen 0 800x600x24" \
    bash "$repo/scripts/run.sh" --on-xvfb "$shot" "${command[@]}" &
  wait_for_child
else
  say "running: ${command[*]}"
  "${command[@]}" &
  wait_for_child
  say "Quillon ended (exit code $rc)"
fi
exit "$rc"
