#!/usr/bin/env bash
# Split routing benchmark (run by hand, as root; not a CTest test):
#
#   bench/split-bench.sh [N...]          default: 1000 10000
#
# For each N it makes a private mount and network namespace (unshare -m -n)
# with the loopback up, three veth lines (v0 192.0.2.1, v1 198.51.100.1,
# v2 203.0.113.1 as gateways) and a resolv.conf that points at 127.0.0.1;
# starts dnsmasq there answering N names (b1.bench.test ... bN.bench.test,
# 1 to 3 A records each on 10.0.0.0/8), writes a split store of N entries
# spread over the three lines, and runs quillon_bench_split on it:
#   - a full pass (RouteAllEntries on a fresh table), wall time;
#   - a steady pass (the second RouteAllEntries): wall time, and the kernel
#     route changes as the pass counts them and as `ip -4 monitor route` saw
#     them;
#   - a reload of the list (ReloadSplitList into the in-memory window);
#   - the resident memory (VmRSS) of the empty program state and after the
#     passes and the reload;
#   - the phases of a pass timed apart (store read, lookups, netlink);
#   - the per-process procedure on a sample of the first S entries (one
#     `getent ahostsv4 NAME` process per entry, and per answer address one
#     `ip route del NET/24` and one `ip route add NET/24 via LINE` process,
#     each waited for), extrapolated linearly to N;
#   - the headless service (`quillon --service`) in the same namespace:
#     the time from its start until every network is routed; over a steady
#     minute (from 5 s after that), the CPU time of the service and of the
#     route helpers it ran (/proc/PID/stat utime+stime+cutime+cstime), the
#     DNS queries the dnsmasq answered (its SIGUSR1 statistics) and the
#     route changes `ip -4 monitor route` saw; its resident memory; the time
#     until every split route of a line is back after the line's link went
#     down and up and its default route was put back (as a network manager
#     does; the table polled with `ip route` every 50 ms), and until a
#     split route deleted by hand is back (its addition seen by
#     `ip -4 monitor route`);
#   - the real program's resident memory: Quillon (build/linux/app/quillon)
#     on a virtual display (Xvfb) in the same namespace with the bundled
#     config site (on a port the kernel picks), its notice answered with Return (xdotool), once with an
#     empty store (window up) and once with the N entries loaded into the
#     list and routed by its first pass, 2 s after each;
# and prints one table. The machine's own routing table is never touched.
#
# Environment:
#   QUILLON_BENCH_SAMPLE=S   entries of the per-process sample (default 500)
#   QUILLON_BENCH_RUNS=R     runs of the passes, reload and memory figures
#                            for each N (default 3); the table gives the
#                            median and, for times, the least and greatest
#   QUILLON_BENCH_WINDOW=0   leave out the real window's memory
#   QUILLON_BENCH_SERVICE=0  leave out the headless service
#   QUILLON_BENCH_MINUTE=S   length of the service's steady window (default 60)
#   QUILLON_BENCH_TTL=S      the TTL of the dnsmasq's answers (default 600)
#   QUILLON_SKIP_BUILD=1     do not build; use the binary already built
#   QUILLON_BUILD_DIR=DIR    take bench/quillon_bench_split from DIR
#                            (default build/linux; implies no build)
set -euo pipefail

say() { printf 'split-bench: %s\n' "$*" >&2; }

# ---------------------------------------------------------------- inner part
#   split-bench.sh --inside N BENCH STATE
if [[ ${1:-} == --inside ]]; then
  n=$2 bench=$3 state=$4
  sample=${QUILLON_BENCH_SAMPLE:-500}
  # shellcheck source=../scripts/lines-namespace.sh
  . "$(dirname "$(readlink -f "$0")")/../scripts/lines-namespace.sh"
  make_lines
  mount --bind "$state/resolv.conf" /etc/resolv.conf

  # N names, entry i with 1 + i%3 addresses. Address k of entry i lies in
  # the /24 number (i + 7919 k) mod 40000 of 10.0.0.0/8, so most entries
  # have networks of their own and some share one with another entry.
  home=$state/home-$n
  mkdir -p "$home/分流器配置"
  awk -v n="$n" -v hosts="$state/hosts-$n" -v store="$home/分流器配置/http.ini" 'BEGIN {
    split("192.0.2.1 198.51.100.1 203.0.113.1", lines, " ")
    for (i = 1; i <= n; i++) {
      name = "b" i ".bench.test"
      for (k = 0; k <= i % 3; k++) {
        net = (i + 7919 * k) % 40000
        printf "10.%d.%d.%d %s\n", int(net / 256), net % 256, 1 + (i + k) % 250, name > hosts
      }
      printf "[%s]\nxl=%s\nbz=bench %d\nzt=1\n", name, lines[1 + i % 3], i > store
    }
  }'

  dnsmasq --keep-in-foreground --conf-file=/dev/null --pid-file= --user=root \
    --listen-address=127.0.0.1 --bind-interfaces --no-resolv --no-hosts \
    --addn-hosts="$state/hosts-$n" --local-ttl="${QUILLON_BENCH_TTL:-600}" \
    --log-facility="$state/dnsmasq-$n.log" &
  dns=$!
  trap 'kill "$dns" 2>/dev/null || true; wait "$dns" 2>/dev/null || true' EXIT
  up=
  for _ in $(seq 1 200); do
    if getent ahostsv4 "b$n.bench.test" >/dev/null; then
      up=1
      break
    fi
    kill -0 "$dns" 2>/dev/null || break
    sleep 0.05
  done
  if [[ -z $up ]]; then
    say "dnsmasq does not answer:"
    sed 's/^/  /' "$state/dnsmasq-$n.log" >&2
    exit 1
  fi
  # R runs, each from the namespace's first table; the per-process sample
  # only in the last. Every figure is the median of the runs, with its least
  # and greatest value beside it (other work on the machine shows there).
  runs=${QUILLON_BENCH_RUNS:-3}
  # The routes of the bench's networks, Quillon's (protocol 77) and those
  # of `ip route` (the per-process sample); the lines' default routes stay.
  flush_routes() {
    ip -4 route flush root 10.0.0.0/8 proto 77
    ip -4 route flush root 10.0.0.0/8 proto static
    ip -4 route flush root 10.0.0.0/8 proto boot
  }
  for ((r = 1; r <= runs; r++)); do
    flush_routes
    "$bench" --home "$home" --per-process "$((r == runs ? sample : 0))" >"$state/run-$n-$r.txt"
  done
  cat "$state"/run-"$n"-*.txt | awk -F= '
    { v[$1] = v[$1] " " $2; if (!($1 in seen)) { seen[$1] = 1; order[++keys] = $1 } }
    END {
      for (k = 1; k <= keys; k++) {
        key = order[k]
        c = split(substr(v[key], 2), a, " ")
        for (i = 2; i <= c; i++) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
        median = c % 2 ? a[(c + 1) / 2] : (a[c / 2] + a[c / 2 + 1]) / 2
        printf "%s=%s\n%s_min=%s\n%s_max=%s\n%s_runs=%d\n", key, median, key, a[1], key, a[c], key, c
      }
    }' | tee "$state/bench-$n.txt"

  # The headless service, from a fresh table.
  if [[ -n ${QUILLON_BENCH_SERVICE_BIN:-} ]]; then
    flush_routes
    now() { echo "$EPOCHREALTIME"; }
    since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'; }
    routes77() { ip -4 route show proto 77 "$@" | wc -l; }
    # until COUNT PAUSE CMD...: polls CMD (a count) until it prints COUNT,
    # PAUSE seconds between polls (each poll of tens of thousands of routes
    # costs `ip` tens of milliseconds of the cores the service runs on);
    # false after 180 s.
    until_count() {
      local want=$1 pause=$2 end=$((SECONDS + 180))
      shift 2
      while ((SECONDS < end)); do
        [[ $("$@") == "$want" ]] && return 0
        sleep "$pause"
      done
      return 1
    }
    # The CPU time (s) of the service and of its waited-for children.
    cpu_s() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15 + $16 + $17) / hz }' "/proc/$svc/stat"; }
    # The queries the dnsmasq answered so far (its SIGUSR1 statistics).
    dns_queries() {
      local before
      before=$(grep -c 'queries answered locally' "$state/dnsmasq-$n.log" || true)
      kill -USR1 "$dns"
      for _ in $(seq 1 200); do
        (($(grep -c 'queries answered locally' "$state/dnsmasq-$n.log" || true) > before)) && break
        sleep 0.01
      done
      sed -n 's/.*queries forwarded \([0-9]*\), queries answered locally \([0-9]*\).*/\1 \2/p' \
        "$state/dnsmasq-$n.log" | tail -n 1 | awk '{ print $1 + $2 }'
    }
    networks=$(awk '{ split($1, a, "."); print a[1] "." a[2] "." a[3] }' "$state/hosts-$n" | sort -u | wc -l)
    q0=$(dns_queries)
    t0=$(now)
    QUILLON_ROUTE_HELPER=$QUILLON_BENCH_HELPER "$QUILLON_BENCH_SERVICE_BIN" --service --home "$home" \
      >"$state/service-$n.log" 2>&1 &
    svc=$!
    trap 'kill "$dns" "$svc" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
    if until_count "$networks" 0.05 routes77; then
      echo "service_first_pass_s=$(since "$t0")"
    else
      say "the service did not route the $networks networks:"; sed 's/^/  /' "$state/service-$n.log" >&2
      exit 1
    fi
    echo "service_networks=$networks"
    echo "service_first_pass_queries=$(($(dns_queries) - q0))"
    # The steady minute: from 5 s after the first pass, one full pass in it.
    minute=${QUILLON_BENCH_MINUTE:-60}
    sleep 5
    ip -4 monitor route >"$state/monitor-$n.log" 2>/dev/null &
    monitor=$!
    sleep 0.5
    c0=$(cpu_s) q0=$(dns_queries)
    sleep "$minute"
    c1=$(cpu_s) q1=$(dns_queries)
    sleep 0.5
    kill "$monitor"; wait "$monitor" 2>/dev/null || true
    echo "service_minute_s=$minute"
    echo "service_minute_cpu_s=$(awk -v a="$c0" -v b="$c1" 'BEGIN { printf "%.2f", b - a }')"
    echo "service_minute_queries=$((q1 - q0))"
    echo "service_minute_route_changes=$(grep -c . "$state/monitor-$n.log" || true)"
    sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/service_rss_kb=\1/p; s/^VmHWM:[[:space:]]*\([0-9]*\).*/service_rss_peak_kb=\1/p' \
      "/proc/$svc/status"
    # A line goes down and comes back; the network manager puts its default
    # route back.
    line0=$(routes77 via 192.0.2.1)
    t0=$(now)
    ip link set v0 down
    ip link set v0 up
    tup=$(now)
    for _ in $(seq 1 100); do
      ip route add default via 192.0.2.1 metric 30 2>/dev/null && break
      sleep 0.01
    done
    tdefault=$(now)
    if until_count "$line0" 0.05 routes77 via 192.0.2.1; then
      echo "service_bounce_s=$(since "$tup")"
      echo "service_bounce_from_default_s=$(since "$tdefault")"
    else
      echo "service_bounce_s=-"
    fi
    echo "service_bounce_routes=$line0"
    # A split route deleted by hand: back when `ip monitor` reports it added
    # again (polling a table of tens of thousands of routes would take the
    # cores the service needs).
    gateway=203.0.113.1
    read -r victim _ < <(ip -4 route show proto 77 via "$gateway" | head -n 1)
    ip -4 monitor route >"$state/restore-$n.log" 2>/dev/null &
    watcher=$!
    sleep 0.2
    ip route del "$victim" via "$gateway"
    t0=$(now)
    restored() { grep -F "$victim via $gateway " "$state/restore-$n.log" | grep -qv '^Deleted'; }
    end=$((SECONDS + 60))
    until restored || ((SECONDS >= end)); do sleep 0.01; done
    if restored; then
      echo "service_deleted_s=$(since "$t0")"
    else
      echo "service_deleted_s=-"
    fi
    kill "$watcher"; wait "$watcher" 2>/dev/null || true
    sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/service_rss_end_kb=\1/p' "/proc/$svc/status"
    echo "service_cpu_total_s=$(cpu_s)"
    kill "$svc"
    wait "$svc" 2>/dev/null || true
  fi

  # The real window: Quillon's resident memory once its window is up with an
  # empty store, and once it has loaded the N entries and routed them.
  [[ -n ${QUILLON_BENCH_QUILLON:-} ]] || exit 0
  # shellcheck source=/dev/null
  . "$QUILLON_BENCH_SITE_SH"
  quillon_site_start "$QUILLON_BENCH_SITE_BIN" "$QUILLON_BENCH_SITE_ROOT" "$state/site-$n.log" ||
    { say "the config site did not start"; exit 1; }
  site=$quillon_site_pid
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$state/display-$n" 2>"$state/xvfb-$n.log" &
  xvfb=$!
  trap 'kill "$dns" "$site" "$xvfb" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do
    [[ -s $state/display-$n ]] && break
    sleep 0.1
  done
  export DISPLAY=:$(head -n 1 "$state/display-$n")
  # window_rss HOME ROUTES: starts Quillon, answers its notice, waits until
  # its main window is up and (ROUTES > 0) until the first pass has made
  # ROUTES routes, lets it settle, and prints its VmRSS in kB.
  window_rss() {
    local home=$1 routes=$2 pid box= shown= i
    "$QUILLON_BENCH_QUILLON" --home "$home" --site "$quillon_site_host" 2>"$state/quillon-$n.log" &
    pid=$!
    for ((i = 0; i < 200; i++)); do
      box=$(xdotool search --onlyvisible --name '使用须知' 2>/dev/null | head -n 1 || true)
      [[ -n $box ]] && break
      sleep 0.1
    done
    [[ -n $box ]] && sleep 0.3 && xdotool windowfocus --sync "$box" key Return
    for ((i = 0; i < 1200; i++)); do
      if [[ -z $shown ]] && xdotool search --onlyvisible --name '^Quillon - ' >/dev/null 2>&1; then shown=1; fi
      if [[ -n $shown ]] && { ((routes == 0)) || (($(ip -4 route show proto 77 | wc -l) >= routes)); }; then
        sleep 2
        sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$pid/status"
        break
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  # Both start from the namespace's first table: the program reads it.
  flush_routes
  mkdir -p "$state/empty-$n"
  echo "window_rss_empty_kb=$(window_rss "$state/empty-$n" 0)"
  routes=$(sed -n 's/^full_added=//p' "$state/bench-$n.txt")
  echo "window_rss_loaded_kb=$(window_rss "$home" "$routes")"
  exit 0
fi

# ---------------------------------------------------------------- outer part
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUILLON_BUILD_DIR:-$repo/build/linux}
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000 10000)
for n in "${sizes[@]}"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { say "not a number of entries: $n"; exit 2; }
done

[[ $(id -u) == 0 ]] || { say "needs root (it makes a private network namespace)"; exit 1; }
for tool in unshare ip dnsmasq getent awk; do
  command -v "$tool" >/dev/null || { say "$tool not found (scripts/install-deps.sh installs it)"; exit 1; }
done

if [[ ${QUILLON_SKIP_BUILD:-} != 1 && -z ${QUILLON_BUILD_DIR:-} ]]; then
  say "building the linux preset (quillon_bench_split)"
  (cd "$repo" && cmake --preset linux >/dev/null && cmake --build --preset linux --target quillon_bench_split quillon quillon-route quillon-site)
fi
bench=$build_dir/bench/quillon_bench_split
[[ -x $bench ]] || { say "no benchmark program at $bench"; exit 1; }

# The headless service is measured when the program and the route helper
# are built (QUILLON_BENCH_SERVICE=0 leaves it out).
if [[ ${QUILLON_BENCH_SERVICE:-1} == 1 && -x $build_dir/app/quillon && -x $build_dir/helper/quillon-route ]]; then
  export QUILLON_BENCH_SERVICE_BIN=$build_dir/app/quillon
  export QUILLON_BENCH_HELPER=$build_dir/helper/quillon-route
else
  say "not measuring the service (needs build/linux/app/quillon and build/linux/helper/quillon-route)"
fi

# The real window is measured too when Quillon, the site and a virtual
# display can be had (QUILLON_BENCH_WINDOW=0 leaves it out).
if [[ ${QUILLON_BENCH_WINDOW:-1} == 1 && -x $build_dir/app/quillon && -x $build_dir/site/quillon-site &&
  -f $build_dir/generated/quillon/site.sh ]] && command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  export QUILLON_BENCH_QUILLON=$build_dir/app/quillon
  export QUILLON_BENCH_SITE_BIN=$build_dir/site/quillon-site
  export QUILLON_BENCH_SITE_ROOT=$repo/site
  # The site's address and the way to start it (quillon/site.sh).
  export QUILLON_BENCH_SITE_SH=$build_dir/generated/quillon/site.sh
else
  say "not measuring the real window (needs build/linux/app/quillon, the site, Xvfb and xdotool)"
fi

state=$(mktemp -d /tmp/quillon-bench-XXXXXX)
trap 'rm -rf "$state"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$state/resolv.conf"
sample=${QUILLON_BENCH_SAMPLE:-500}
runs=${QUILLON_BENCH_RUNS:-3}
say "command: bench/split-bench.sh ${sizes[*]}   (per-process sample: $sample entries)"
say "machine: $(nproc) cores, $(uname -r), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"

for n in "${sizes[@]}"; do
  say "N=$n: namespace, dnsmasq with $n names, store of $n entries; running"
  unshare -m -n bash "$(readlink -f "$0")" --inside "$n" "$bench" "$state" >"$state/result-$n.txt"
  mkdir -p "$repo/build"
  cp "$state/result-$n.txt" "$repo/build/split-bench-$n.txt"
done

# The value of KEY for size N.
v() { sed -n "s/^$2=//p" "$state/result-$1.txt"; }
row() {
  local label=$1 fn=$2
  shift 2
  printf '%-48s' "$label"
  for n in "${sizes[@]}"; do printf ' %24s' "$("$fn" "$n" "$@")"; done
  printf '\n'
}
# median (least-greatest) of the runs
ms() { echo "$(v "$1" "$2") ($(v "$1" "$2_min")-$(v "$1" "$2_max"))"; }
# the most of any run
changes() { echo $(($(v "$1" "$2_added_max") + $(v "$1" "$2_replaced_max") + $(v "$1" "$2_deleted_max"))); }
rss_mb() {
  local k
  k=$(v "$1" "$2")
  if [[ -z $k ]]; then echo "-"; return; fi
  awk -v k="$k" 'BEGIN { printf "%.1f", k / 1024 }'
}
above_mb() { awk -v a="$(v "$1" rss_after_kb)" -v e="$(v "$1" rss_empty_kb)" 'BEGIN { printf "%.1f", (a - e) / 1024 }'; }
window_above_mb() {
  local a e
  a=$(v "$1" window_rss_loaded_kb) e=$(v "$1" window_rss_empty_kb)
  if [[ -z $a || -z $e ]]; then echo "-"; return; fi
  awk -v a="$a" -v e="$e" 'BEGIN { printf "%.1f", (a - e) / 1024 }'
}
pp_ms() { v "$1" perprocess_ms; }
pp_extra_s() {
  awk -v t="$(v "$1" perprocess_ms)" -v s="$(v "$1" perprocess_sample)" -v n="$1" 'BEGIN { printf "%.1f", t * n / s / 1000 }'
}
ratio() {
  awk -v t="$(v "$1" perprocess_ms)" -v s="$(v "$1" perprocess_sample)" -v n="$1" -v f="$(v "$1" "$2")" \
    'BEGIN { printf "%.0fx", (t * n / s) / f }'
}
ratio_full() { ratio "$1" full_ms; }
ratio_steady() { ratio "$1" steady_ms; }
full_desc() { echo "$(v "$1" full_added) / $(v "$1" full_monitor_changes)"; }
steady_desc() { echo "$(changes "$1" steady) / $(v "$1" steady_monitor_changes_max)"; }
service_first_desc() {
  local w
  w=$(v "$1" service_networks)
  if [[ -z $w ]]; then echo "-"; return; fi
  echo "$w / $(v "$1" service_first_pass_queries)"
}
sample_desc() { echo "$(v "$1" perprocess_sample) / $(v "$1" perprocess_processes)"; }

echo
row "entries in the store (N)" v entries
row "rows after the reload" v rows
row "full pass, fresh table (ms)" ms full_ms
row "  CPU time, all threads (ms)" v full_cpu_ms
row "  routes added (pass / ip monitor)" full_desc
row "steady pass (ms)" ms steady_ms
row "  CPU time, all threads (ms)" v steady_cpu_ms
row "  kernel changes, most in a run (pass / monitor)" steady_desc
row "  networks kept" v steady_kept
row "reload of the list (ms)" ms reload_ms
row "RSS, empty program state (MB)" rss_mb rss_empty_kb
row "RSS after passes and reload (MB)" rss_mb rss_after_kb
row "RSS above the empty state (MB)" above_mb
row "service: first pass, all networks routed (s)" v service_first_pass_s
row "  networks / DNS queries" service_first_desc
row "service: steady minute, CPU service+helper (s)" v service_minute_cpu_s
row "  DNS queries in the minute" v service_minute_queries
row "  route changes in the minute (ip monitor)" v service_minute_route_changes
row "service: RSS after the minute (MB)" rss_mb service_rss_kb
row "  peak RSS (MB)" rss_mb service_rss_peak_kb
row "service: line bounced, its routes back (s)" v service_bounce_s
row "  from its default route back (s)" v service_bounce_from_default_s
row "service: route deleted by hand, back (s)" v service_deleted_s
row "Quillon window, empty store: RSS (MB)" rss_mb window_rss_empty_kb
row "Quillon window, N entries routed: RSS (MB)" rss_mb window_rss_loaded_kb
row "Quillon window: above the empty window (MB)" window_above_mb
row "phase: store read (ms)" ms phase_store_read_ms
row "phase: lookups, all at once (ms)" ms phase_lookups_ms
row "  CPU time, all threads (ms)" v phase_lookups_cpu_ms
row "phase: the machine's adapters (ms)" ms phase_adapters_ms
row "phase: answers to requests (ms)" ms phase_answers_ms
row "phase: netlink diff, steady table (ms)" ms phase_netlink_ms
row "per-process: sample entries / processes" sample_desc
row "per-process: sample time (ms)" pp_ms
row "per-process: extrapolated to N (s)" pp_extra_s
row "per-process / full pass" ratio_full
row "per-process / steady pass" ratio_steady
echo
say "times: median of $runs runs (least-greatest); raw figures: build/split-bench-N.txt"
say "the per-process figures for N are the sample's time times N / sample (linear extrapolation)"
