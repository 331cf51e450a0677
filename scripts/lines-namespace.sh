# shellcheck shell=bash
# Sourced by the scripts that run inside a fresh network namespace
# (unshare -n): the machine that the network tests, the demo and the
# benchmark give Quillon. Three lines, one veth pair each, on the
# documentation ranges:
#
#   v0 192.0.2.2/24     gateway 192.0.2.1     default route metric 30
#   v1 198.51.100.2/24  gateway 198.51.100.1  default route metric 20
#   v2 203.0.113.2/24   gateway 203.0.113.1   default route metric 10
#
# The default routes are added in reverse interface order, so the kernel's
# order (by metric) differs from the interface order.
#
#   make_lines [PAIRS]   brings lo up and makes PAIRS veth pairs (default 3,
#                        at least 3); pairs past the third stay without an
#                        address. Interface order: p0 v0 p1 v1 p2 v2 ...
make_lines() {
  local pairs=${1:-3} i
  ip link set lo up
  for ((i = 0; i < pairs; i++)); do
    ip link add "v$i" type veth peer name "p$i"
    ip link set "p$i" up
    ip link set "v$i" up
  done
  ip addr add 192.0.2.2/24 dev v0
  ip addr add 198.51.100.2/24 dev v1
  ip addr add 203.0.113.2/24 dev v2
  ip route add default via 203.0.113.1 metric 10
  ip route add default via 198.51.100.1 metric 20
  ip route add default via 192.0.2.1 metric 30
}
