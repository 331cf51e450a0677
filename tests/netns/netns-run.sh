#!/usr/bin/env bash
# Runs a test program as root inside a private mount and network namespace
# (unshare -m -n) that holds three veth "lines" on the documentation ranges,
# so the program may change routes freely: the machine's own table is never
# touched, and the namespace disappears with the program.
#
#   netns-run.sh PROGRAM [ARGS...]
#
# Inside, PROGRAM finds (interface index order v0 < v1 < v2 < v3):
#   v0  192.0.2.2/24 (and the secondary 192.0.2.3/24)  default via 192.0.2.1    metric 30
#   v1  198.51.100.2/24, alias "电信 线路"              default via 198.51.100.1 metric 20
#   v2  203.0.113.2/24                                  default via 203.0.113.1  metric 10
#   v3  up, no IPv4 address; p0..p3 the peer ends, up, no address
# with the loopback up, a sysfs of this namespace on /sys, an empty tmpfs on
# /run, a resolv.conf that points at 127.0.0.1 over /etc/resolv.conf, and
# QUILLON_NETNS=1.
#
# Where no namespace can be made (not root, no unshare, no namespace support)
# it fails: a suite that did not run never passes. On a developer's machine
# without root, QUILLON_ALLOW_SKIP=1 makes it print "netns: skipped: REASON"
# and exit 0 instead (CTest then counts the test as skipped). CI never sets it.
set -euo pipefail

skip() {
  if [ "${QUILLON_ALLOW_SKIP:-}" = 1 ]; then
    echo "netns: skipped: $*"
    exit 0
  fi
  echo "netns: cannot run: $* (QUILLON_ALLOW_SKIP=1 skips instead)" >&2
  exit 1
}

if [ "${1:-}" = "--inside" ]; then
  shift
  # shellcheck source=../../scripts/lines-namespace.sh
  . "$(dirname "$(readlink -f "$0")")/../../scripts/lines-namespace.sh"
  # The three lines, a fourth adapter without an address, a second address
  # on v0 and a line whose name has a blank and non-ASCII letters.
  make_lines 4
  ip addr add 192.0.2.3/24 dev v0
  ip link set v1 alias "电信 线路"
  mount -t sysfs sysfs /sys
  # A /run of the namespace's own: the route helper keeps its lock and the
  # routing user's lease in /run/quillon. A resolv.conf that links into /run
  # gets its target back, empty, for the bind mount below.
  resolv="$(readlink -m /etc/resolv.conf)"
  mount -t tmpfs -o mode=0755 tmpfs /run
  case "$resolv" in /run/*) mkdir -p "$(dirname "$resolv")" && : >"$resolv" ;; esac
  if [ -e /etc/resolv.conf ]; then
    mount --bind "$QUILLON_NETNS_STATE/resolv.conf" /etc/resolv.conf
  fi
  export QUILLON_NETNS=1
  exec "$@"
fi

[ $# -ge 1 ] || { echo "usage: netns-run.sh PROGRAM [ARGS...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || skip "needs root to make a private network namespace"
command -v unshare >/dev/null 2>&1 || skip "unshare (util-linux) not found"
command -v ip >/dev/null 2>&1 || skip "ip (iproute2) not found"
unshare -m -n true 2>/dev/null || skip "unshare -m -n failed: no namespace support here"

state="$(mktemp -d)"
trap 'rm -rf "$state"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "$state/resolv.conf"
export QUILLON_NETNS_STATE="$state"

program="$1"; shift
case "$program" in /*) ;; *) program="$PWD/$program" ;; esac
unshare -m -n bash "$(readlink -f "$0")" --inside "$program" "$@"
