#!/usr/bin/env bash
# Split routing, watched in a private network namespace (as root):
#
#   scripts/demo.sh
#
# The machine's own routing table is never touched. The script
#  1. builds Quillon and the config site of the linux preset (like
#     scripts/run.sh; QUILLON_SKIP_BUILD=1 reuses the last build),
#  2. makes a private mount and network namespace (unshare -m -n) with the
#     loopback up and three veth lines, whose gateways are the lines Quillon
#     offers:
#        v0 192.0.2.2/24     gateway 192.0.2.1
#        v1 198.51.100.2/24  gateway 198.51.100.1
#        v2 203.0.113.2/24   gateway 203.0.113.1
#     and a resolv.conf that points at 127.0.0.1 (bind-mounted over
#     /etc/resolv.conf inside the namespace only),
#  3. starts there a dnsmasq that answers a few example names (below) and
#     nothing else, and the bundled config site on 127.0.0.1 at a port the
#     kernel picks (its address comes from the build tree's
#     generated/quillon/site.sh),
#  4. writes a split store with entries on different lines into a temporary
#     home directory, and starts Quillon (build/linux/app/quillon) inside the
#     namespace with --home pointing at it,
#  5. once the first pass has routed the entries, prints the namespace's
#     routing table, and the command that shows it while Quillon runs.
#
# With a display, Quillon opens its window there: answer its notice with
# "确定"; the script waits until you close Quillon. (The X server must be
# reachable through its socket file, as a local display is: the namespace has
# no network to reach a display over TCP.)
# Without a display, Quillon runs on a virtual X display (Xvfb) inside the
# namespace; the notice is answered with the Return key (xdotool), a
# screenshot of the window is saved to build/demo-screenshot.png, and Quillon
# is stopped.
#
# Environment:
#   QUILLON_SKIP_BUILD=1  do not install packages or build; use build/linux
#   QUILLON_BUILD_DIR=DIR take app/quillon and site/quillon-site from DIR
#                         (implies QUILLON_SKIP_BUILD=1)
#   QUILLON_DEMO_SHOT=F   where the screenshot goes without a display
#                         (default build/demo-screenshot.png)
set -euo pipefail

say() { printf 'demo.sh: %s\n' "$*" >&2; }

# The example names and their addresses (several A records for one name
# are repeated host records).
dns_records=(
  --host-record=video.example.test,198.18.10.5
  --host-record=video.example.test,198.18.10.6
  --host-record=video.example.test,198.18.11.7
  --host-record=news.example.test,198.18.20.8
  --host-record=chat.example.test,198.18.30.9
  --host-record=chat.example.test,198.19.31.9
  --host-record=mail.example.test,198.18.50.2
)

# The split store: each section a destination, xl its line, zt "1" enabled,
# bz a note. mail.example.test is disabled, so its network gets no route;
# 198.18.40.1 is an address, routed without a lookup; 198.18.64.0/18 a
# prefix, routed exactly as it stands.
write_store() {
  cat >"$1" <<'EOF'
[video.example.test]
xl=198.51.100.1
bz=视频 (三个地址, 两个网段)
zt=1
[news.example.test]
xl=203.0.113.1
bz=新闻
zt=1
[chat.example.test]
xl=192.0.2.1
bz=聊天
zt=1
[198.18.40.1]
xl=203.0.113.1
bz=一个地址
zt=1
[198.18.64.0/18]
xl=192.0.2.1
bz=一个前缀
zt=1
[mail.example.test]
xl=198.51.100.1
bz=已关闭
zt=-1
EOF
}
# The routes the first pass makes (video: two /24 networks, chat: two, the
# prefix one).
expected_routes=7

# ---------------------------------------------------------------- inner part
#   demo.sh --inside STATE QUILLON SITE_BIN SITE_ROOT SITE_SH SHOT
if [[ ${1:-} == --inside ]]; then
  state=$2 quillon=$3 site_bin=$4 site_root=$5 site_sh=$6 shot=$7
  # shellcheck source=/dev/null
  . "$site_sh"
  pids=()
  # shellcheck disable=SC2317  # runs from the trap
  clean_up() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
      kill "${pids[i]}" 2>/dev/null || true
      wait "${pids[i]}" 2>/dev/null || true
    done
  }
  trap clean_up EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  # shellcheck source=lines-namespace.sh
  . "$(dirname "$(readlink -f "$0")")/lines-namespace.sh"
  make_lines
  mount --bind "$state/resolv.conf" /etc/resolv.conf

  dnsmasq --keep-in-foreground --conf-file=/dev/null --pid-file= --user=root \
    --listen-address=127.0.0.1 --bind-interfaces --no-resolv --no-hosts \
    --log-facility=- "${dns_records[@]}" 2>"$state/dnsmasq.log" &
  pids+=($!)
  if ! quillon_site_start "$site_bin" "$site_root" "$state/site.log"; then
    say "the config site did not start:"
    sed 's/^/  /' "$state/site.log" >&2
    exit 1
  fi
  pids+=("$quillon_site_pid")
  site=$quillon_site_host
  up=
  for _ in $(seq 1 100); do
    if getent ahostsv4 video.example.test >/dev/null; then
      up=1
      break
    fi
    sleep 0.1
  done
  if [[ -z $up ]]; then
    say "dnsmasq did not come up:"
    sed 's/^/  /' "$state/dnsmasq.log" >&2
    exit 1
  fi
  say "namespace ready: lines v0 192.0.2.1, v1 198.51.100.1, v2 203.0.113.1; dnsmasq on 127.0.0.1, the config site on $site"

  home=$state/home
  mkdir -p "$home/分流器配置"
  write_store "$home/分流器配置/http.ini"
  say "split store: $home/分流器配置/http.ini"
  sed 's/^/    /' "$home/分流器配置/http.ini" >&2

  split_routes() { ip -4 route show | grep -E '^198\.1[89]\.' || true; }
  show_table() {
    echo
    echo "Routing table of the namespace (ip route):"
    ip -4 route show | sed 's/ *$//; s/^/    /'
    echo
  }
  # Waits (at most $1 s) until the first pass has made its routes; false when
  # Quillon ended or the time ran out.
  wait_for_routes() {
    local i
    for ((i = 0; i < $1 * 10; i++)); do
      kill -0 "$quillon_pid" 2>/dev/null || return 1
      [[ $(split_routes | wc -l) -ge $expected_routes ]] && return 0
      sleep 0.1
    done
    return 1
  }

  echo
  echo "Routing table before Quillon:"
  ip -4 route show | sed 's/ *$//; s/^/    /'

  if [[ -n ${DISPLAY:-} ]]; then
    "$quillon" --home "$home" --site "$site" &
    quillon_pid=$!
    pids+=("$quillon_pid")
    echo
    echo "Quillon runs (pid $quillon_pid). Answer its notice with 确定 (OK); it then routes the list."
    echo "To look at the routes yourself while it runs, in another terminal:"
    echo "    nsenter --net=/proc/$quillon_pid/ns/net ip route"
    if wait_for_routes 600; then
      show_table
      echo "The split routes (198.18.x.0/24, 198.19.x.0/24, the prefix 198.18.64.0/18) go through the lines of the entries;"
      echo "mail.example.test is disabled and has none. Close Quillon to end the demo."
    fi
    set +e
    wait "$quillon_pid"
    rc=$?
    set -e
    pids=("${pids[@]:0:${#pids[@]}-1}")
    say "Quillon ended (exit code $rc)"
    exit 0
  fi

  # No display: a virtual one, inside the namespace.
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$state/display" 2>"$state/xvfb.log" &
  pids+=($!)
  for _ in $(seq 1 100); do
    [[ -s $state/display ]] && break
    sleep 0.1
  done
  [[ -s $state/display ]] || { say "Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n 1 "$state/display")
  "$quillon" --home "$home" --site "$site" 2>"$state/quillon.log" &
  quillon_pid=$!
  pids+=("$quillon_pid")
  say "Quillon started on the virtual display $DISPLAY (pid $quillon_pid)"
  echo
  echo "While it runs, the routes can be seen with:"
  echo "    nsenter --net=/proc/$quillon_pid/ns/net ip route"

  # The notice box ("Quillon用户使用须知："): focus it and press Return.
  box=
  for _ in $(seq 1 200); do
    kill -0 "$quillon_pid" 2>/dev/null || break
    box=$(xdotool search --onlyvisible --name '使用须知' 2>/dev/null | head -n 1 || true)
    [[ -n $box ]] && break
    sleep 0.1
  done
  if [[ -z $box ]]; then
    say "Quillon showed no notice box (log: $state/quillon.log):"
    sed 's/^/  /' "$state/quillon.log" >&2
    exit 1
  fi
  sleep 0.3
  xdotool windowfocus --sync "$box" key Return
  say "answered the notice box with Return"
  if ! wait_for_routes 60; then
    say "the first pass made no routes within 60 s:"
    split_routes >&2
    exit 1
  fi
  show_table
  echo "The split routes (198.18.x.0/24, 198.19.x.0/24, the prefix 198.18.64.0/18) go through the lines of the entries;"
  echo "mail.example.test is disabled and has none."
  sleep 1  # the window paints the list it has loaded
  import -window root "$shot"
  say "screenshot of the window: $shot"
  exit 0
fi

# ---------------------------------------------------------------- outer part
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUILLON_BUILD_DIR:-$repo/build/linux}
shot=${QUILLON_DEMO_SHOT:-$repo/build/demo-screenshot.png}

[[ $(id -u) == 0 ]] || { say "needs root: it makes a private network namespace"; exit 1; }

if [[ ${QUILLON_SKIP_BUILD:-} != 1 && -z ${QUILLON_BUILD_DIR:-} ]]; then
  say "installing the packages (scripts/install-deps.sh)"
  "$repo/scripts/install-deps.sh"
  say "configuring the linux preset and building Quillon and the config site into $build_dir"
  (cd "$repo" && cmake --preset linux && cmake --build --preset linux --target quillon quillon-site)
else
  say "not building: using the binaries in $build_dir"
fi
quillon=$build_dir/app/quillon
site_bin=$build_dir/site/quillon-site
site_sh=$build_dir/generated/quillon/site.sh
for f in "$quillon" "$site_bin"; do
  [[ -x $f ]] || { say "missing: $f (build the linux preset first)"; exit 1; }
done
[[ -f $site_sh ]] || { say "missing: $site_sh (configure the linux preset first)"; exit 1; }
tools=(unshare ip dnsmasq getent)
if [[ -z ${DISPLAY:-} ]]; then tools+=(Xvfb xdotool import); fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { say "$tool not found (scripts/install-deps.sh installs it)"; exit 1; }
done
if [[ -z ${DISPLAY:-} ]]; then mkdir -p "$(dirname "$shot")"; fi

state=$(mktemp -d /tmp/quillon-demo-XXXXXX)
trap 'rm -rf "$state"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$state/resolv.conf"
set +e
unshare -m -n bash "$(readlink -f "$0")" --inside "$state" "$quillon" "$site_bin" "$repo/site" "$site_sh" "$shot"
rc=$?
set -e
exit "$rc"
