#!/usr/bin/env bash
# The router export with the real engines: dnsmasq fills the nftables sets,
# nftables marks, the exported script routes each mark through its line.
# Runs inside netns-run.sh (a private mount namespace with its own /run), and
# makes its network there with ip netns:
#
#   client  c0 203.0.113.130/25 --- lan0 203.0.113.129/25  router
#   router  wan0 203.0.113.2/25 --- f0 203.0.113.1/25      far   (the default line)
#           wan1 192.0.2.2/24   --- f1 192.0.2.1/24        far   (line 1)
#           wan2 198.51.100.2/24 -- f2 198.51.100.1/24     far   (line 2)
#
# The far namespace records in a set per interface every destination in
# 198.18.0.0/15 that arrives there, so a test sees which line a packet took.
# In the router: an upstream dnsmasq on 127.0.0.1#5353 with the test names,
# and the router's dnsmasq on lan0 forwarding to it with the exported file
# (dnsmasq fills sets only from answers it forwards).
#
#   router_test.sh QUILLON_PROGRAM
set -uo pipefail

quillon=${1:?usage: router_test.sh QUILLON_PROGRAM}
[ "${QUILLON_NETNS:-}" = 1 ] || { echo "router_test: run me through netns-run.sh" >&2; exit 1; }
for tool in nft dnsmasq getent; do
  command -v "$tool" >/dev/null 2>&1 || { echo "router_test: $tool not found (scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  # The servers run in subshells (in_router ... &): end what runs in the
  # namespaces first, so that each subshell reaps its own child, then the
  # subshells.
  for ns in client router far; do ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  for ns in client router far; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP

passed=0 failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED: $*" >&2; }
check() {  # check WHAT COMMAND...
  local what=$1; shift
  if "$@"; then pass; else fail "$what"; fi
}
same() {  # same WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then pass; else fail "$1"; diff <(echo "$2") <(echo "$3") >&2; fi
}
# Polls COMMAND every 20 ms for at most 5 s.
eventually() {
  local i
  for ((i = 0; i < 250; i++)); do
    "$@" && return 0
    sleep 0.02
  done
  return 1
}

in_router() { ip netns exec router "$@"; }

# ---- the network ----
for ns in client router far; do ip netns add "$ns"; ip -n "$ns" link set lo up; done
ip link add lan0 netns router type veth peer name c0 netns client
ip link add wan0 netns router type veth peer name f0 netns far
ip link add wan1 netns router type veth peer name f1 netns far
ip link add wan2 netns router type veth peer name f2 netns far
ip -n client addr add 203.0.113.130/25 dev c0
ip -n router addr add 203.0.113.129/25 dev lan0
ip -n router addr add 203.0.113.2/25 dev wan0
ip -n router addr add 192.0.2.2/24 dev wan1
ip -n router addr add 198.51.100.2/24 dev wan2
ip -n far addr add 203.0.113.1/25 dev f0
ip -n far addr add 192.0.2.1/24 dev f1
ip -n far addr add 198.51.100.1/24 dev f2
for link in client:c0 router:lan0 router:wan0 router:wan1 router:wan2 far:f0 far:f1 far:f2; do
  ip -n "${link%%:*}" link set "${link#*:}" up
done
ip -n client route add default via 203.0.113.129
ip -n router route add default via 203.0.113.1
in_router sh -c 'echo 1 > /proc/sys/net/ipv4/ip_forward'
ip netns exec far nft -f - <<'EOF' || exit 1
table ip seen {
	set f0 { type ipv4_addr; flags dynamic; }
	set f1 { type ipv4_addr; flags dynamic; }
	set f2 { type ipv4_addr; flags dynamic; }
	chain prerouting {
		type filter hook prerouting priority 0; policy accept;
		iifname "f0" ip daddr 198.18.0.0/15 update @f0 { ip daddr }
		iifname "f1" ip daddr 198.18.0.0/15 update @f1 { ip daddr }
		iifname "f2" ip daddr 198.18.0.0/15 update @f2 { ip daddr }
	}
}
EOF

router_state() {
  in_router sh -c 'ip -4 rule show; echo --; ip -4 route show table all; echo --; nft list ruleset'
}
# Whether the nft set SET of namespace NS (table FAMILY NAME) holds ADDRESS.
holds() {  # holds NS "FAMILY TABLE" SET ADDRESS
  ip netns exec "$1" nft list set $2 "$3" | tr ',{}' '   ' | grep -wF -- "$4" >/dev/null
}
arrived_at() {  # arrived_at FAR_INTERFACE ADDRESS
  holds far "ip seen" "$1" "$2"
}
arrived_only_at() {  # the address arrived at this far end and at no other
  local f
  for f in f0 f1 f2; do
    if [ "$f" = "$1" ]; then arrived_at "$f" "$2" || return 1; else ! arrived_at "$f" "$2" || return 1; fi
  done
}
send() {  # send NS ADDRESS: one UDP packet
  ip netns exec "$1" bash -c "echo quillon > /dev/udp/$2/9" 2>/dev/null
}
before=$(router_state)

# ---- the export, from a split store ----
export_list() {  # export_list FOLDER INI-TEXT
  local home="$work/home-$(basename "$1")"
  mkdir -p -m 0700 "$home/分流器配置"
  printf '%s' "$2" >"$home/分流器配置/http.ini"
  "$quillon" --home "$home" --export "$1" --format router
}
list='[video.example.test]
xl=192.0.2.1
zt=1
[chat.example.test]
xl=198.51.100.1
zt=1
[198.18.4.4]
xl=198.51.100.1
zt=1
[198.18.64.0/18]
xl=192.0.2.1
zt=1
[other.example.test]
xl=192.0.2.1
zt=-1
[evil.test/#inet#x]
xl=192.0.2.1
zt=1
'
out=$(export_list "$work/router" "$list")
check "the export succeeds" [ $? = 0 ]
same "the export's report" "wrote $work/router/quillon-dnsmasq.conf
wrote $work/router/quillon.nft
wrote $work/router/quillon-router.sh
lines 2, names 2, networks 2, skipped 1 (neither a plain name, an address nor a prefix)
On the router each name stands for its domain and all its subdomains; Quillon on a machine routes the names themselves." "$out"
"$quillon" --home "$work" --list --format router >/dev/null 2>&1
check "--format goes with --export only" [ $? = 2 ]

# An earlier export with a third line, set up first: the new script takes
# what it no longer needs away.
export_list "$work/older" "$list[older.example.test]
xl=203.0.113.1
zt=1
" >/dev/null
check "the older export is set up" in_router sh "$work/older/quillon-router.sh" >/dev/null
check "the older export's third line has its rule" eval 'in_router ip -4 rule show | grep "fwmark 0x5103 lookup 5103" >/dev/null'

# ---- set up: nft -f, then the script, twice ----
check "nft loads the exported file" in_router nft -f "$work/router/quillon.nft"
check "the script sets up" in_router sh "$work/router/quillon-router.sh" >/dev/null
first=$(router_state)
check "the script runs again" in_router sh "$work/router/quillon-router.sh" >/dev/null
same "a second run leaves the same state" "$first" "$(router_state)"
check "the older export's third line is gone" eval '! in_router ip -4 rule show | grep 0x5103 >/dev/null &&
  [ -z "$(in_router ip -4 route show table 5103 2>/dev/null)" ]'
same "line 1's table" "default via 192.0.2.1 dev wan1" "$(in_router ip -4 route show table 5101 | sed 's/ *$//')"
same "line 2's table" "default via 198.51.100.1 dev wan2" "$(in_router ip -4 route show table 5102 | sed 's/ *$//')"

# ---- the engines ----
in_router dnsmasq --keep-in-foreground --conf-file=/dev/null --pid-file= --user=root --port=5353 \
  --listen-address=127.0.0.1 --bind-interfaces --no-resolv --no-hosts \
  --host-record=video.example.test,198.18.1.5 --host-record=cdn.video.example.test,198.18.2.6 \
  --host-record=chat.example.test,198.18.3.7 --host-record=other.example.test,198.18.9.9 2>"$work/upstream.log" &
pids+=($!)
in_router dnsmasq --keep-in-foreground --conf-file="$work/router/quillon-dnsmasq.conf" --pid-file= --user=root \
  --listen-address=203.0.113.129 --bind-interfaces --no-resolv --no-hosts --server=127.0.0.1#5353 \
  2>"$work/router-dnsmasq.log" &
pids+=($!)
printf 'nameserver 203.0.113.129\noptions timeout:1 attempts:1\n' >"$work/client-resolv.conf"
resolve() {  # the client's lookup of NAME through the router's dnsmasq: its first address
  ip netns exec client sh -c 'mount --bind "$1" /etc/resolv.conf && getent ahostsv4 "$2"' - \
    "$work/client-resolv.conf" "$1" | awk 'NR == 1 { print $1 }'
}
check "the router's dnsmasq answers" eventually eval '[ "$(resolve chat.example.test)" = 198.18.3.7 ]'
same "a listed name" 198.18.1.5 "$(resolve video.example.test)"
same "a name under a listed one" 198.18.2.6 "$(resolve cdn.video.example.test)"
same "a name not listed" 198.18.9.9 "$(resolve other.example.test)"
check "the listed name's address is in line 1's set" holds router "inet quillon" line_1 198.18.1.5
check "the name under it is in line 1's set" holds router "inet quillon" line_1 198.18.2.6
check "line 2's name is in line 2's set" holds router "inet quillon" line_2 198.18.3.7
check "the address entry's /24 is in line 2's set" holds router "inet quillon" line_2 198.18.4.0/24
check "the prefix entry is in line 1's set" holds router "inet quillon" line_1 198.18.64.0/18
check "the unlisted name is in no set" eval '! holds router "inet quillon" line_1 198.18.9.9 &&
  ! holds router "inet quillon" line_2 198.18.9.9'

# ---- the packets: from the client, and from the router itself ----
for address in 198.18.1.5 198.18.2.6 198.18.3.7 198.18.9.9 198.18.64.77; do send client "$address"; done
send router 198.18.4.9
check "the listed name's packet leaves through line 1" eventually arrived_only_at f1 198.18.1.5
check "the subdomain's packet leaves through line 1" eventually arrived_only_at f1 198.18.2.6
check "line 2's name's packet leaves through line 2" eventually arrived_only_at f2 198.18.3.7
check "the prefix entry's packet leaves through line 1" eventually arrived_only_at f1 198.18.64.77
check "the router's own packet leaves through line 2" eventually arrived_only_at f2 198.18.4.9
check "the unlisted name's packet takes the default line" eventually arrived_only_at f0 198.18.9.9

# ---- remove ----
check "--remove succeeds" in_router sh "$work/router/quillon-router.sh" --remove >/dev/null
same "--remove leaves the router as it was" "$before" "$(router_state)"
check "--remove again changes nothing" in_router sh "$work/router/quillon-router.sh" --remove >/dev/null

# A gateway on no network of the router: the script stops and leaves nothing.
export_list "$work/unreachable" "[far.example.test]
xl=198.18.200.1
zt=1
" >/dev/null
in_router sh "$work/unreachable/quillon-router.sh" >/dev/null 2>"$work/unreachable.err"
check "an unreachable gateway fails the script" [ $? = 1 ]
check "it says which" grep -q "198.18.200.1" "$work/unreachable.err"
same "and leaves the router as it was" "$before" "$(router_state)"

echo "router_test: $passed passed, $failed failed"
[ "$failed" = 0 ]
