#!/usr/bin/env bash
# Runs a Windows program under Wine, inside a private mount and network
# namespace whose resolv.conf points at 127.0.0.1, so nothing it does leaves
# the machine. Used as CMAKE_CROSSCOMPILING_EMULATOR by the windows preset.
#
#   wine-run.sh STATE_DIR PROGRAM.exe [ARGS...]
#
# STATE_DIR holds the Wine prefix and the zh_CN.UTF-8 locale (so the ANSI
# code page is 936); both are made on first use. Extra Windows directories for
# PATH can be given in QUILLON_WINE_PATH (prepended, Windows syntax).
#
# QUILLON_WINE_SIDECAR: a shell command started in the background inside the
# namespace before the program (a server the program talks to on 127.0.0.1),
# and stopped when the program ends. With QUILLON_WINE_SIDECAR_PORT the
# program starts once that port of 127.0.0.1 accepts connections (at most
# 10 s). SIGTERM or SIGINT end every Wine process of the run.
set -euo pipefail

state="$1"; shift
mkdir -p "$state"
state="$(cd "$state" && pwd)"

WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || { echo "wine-run: $WINE not found (apt-get install wine64)" >&2; exit 2; }

# The locale that gives Wine code page 936, made without touching the system.
if [ ! -d "$state/locale/zh_CN.UTF-8" ]; then
  mkdir -p "$state/locale"
  localedef -i zh_CN -f UTF-8 "$state/locale/zh_CN.UTF-8" 2>/dev/null || true
fi

printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "$state/resolv.conf"

export WINEPREFIX="$state/prefix"
export WINEDEBUG="${QUILLON_WINEDEBUG:--all}"
# No debugger on a crash: with winedbg, Wine 8 often ends a program that
# crashed with exit code 0, and a crashed test would pass.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export LOCPATH="$state/locale"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEARCH=win64
if [ -n "${QUILLON_WINE_PATH:-}" ]; then export WINEPATH="$QUILLON_WINE_PATH"; fi

# Serialise Wine runs on one prefix: the first start creates it.
exec 9>"$state/lock"
flock 9

inner() {
  ip link set lo up
  mount --bind "$state/resolv.conf" /etc/resolv.conf
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w || true
  fi
  sidecar=
  if [ -n "${QUILLON_WINE_SIDECAR:-}" ]; then
    bash -c "exec $QUILLON_WINE_SIDECAR" &
    sidecar=$!
    if [ -n "${QUILLON_WINE_SIDECAR_PORT:-}" ]; then
      for _ in $(seq 1 100); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$QUILLON_WINE_SIDECAR_PORT") 2>/dev/null; then break; fi
        kill -0 "$sidecar" 2>/dev/null || { echo "wine-run: the sidecar ended" >&2; exit 1; }
        sleep 0.1
      done
    fi
  fi
  end_all() {
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    if [ -n "$sidecar" ]; then kill "$sidecar" 2>/dev/null || true; fi
  }
  trap 'end_all; exit 143' TERM
  trap 'end_all; exit 130' INT
  set +e
  # In the background, so that a signal is handled while the program runs.
  "$WINE" "$@" &
  wait $!
  rc=$?
  end_all
  exit $rc
}
export -f inner
export WINE state
# Without address space randomisation: this Wine has no preloader to keep
# its fixed addresses free, and a randomly placed mapping there now and then
# makes a new process die at its start ("failed to map the shared user
# data"), which tests that start many commands would meet.
exec unshare -m -n setarch "$(uname -m)" -R bash -c 'inner "$@"' inner "$@"
