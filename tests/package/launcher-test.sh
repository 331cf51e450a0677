#!/usr/bin/env bash
# The desktop launcher as the package installs it, in a scratch installation:
# usr/bin holds the configured launcher, the real quillon-site and a stand-in
# for quillon that records what it was given and what the site it was sent to
# answers; usr/share/quillon/site is the site's folder.
#   launcher-test.sh LAUNCHER QUILLON_SITE SITE_DIR SITE_SH VERSION
# (SITE_SH: the generated quillon/site.sh, for the gate's path.)
set -uo pipefail
launcher=$1 site_bin=$2 site_dir=$3 site_sh=$4 version=$5
# shellcheck source=/dev/null
. "$site_sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "launcher: $*" >&2; failures=$((failures + 1)); }

bin=$scratch/usr/bin
mkdir -p "$bin" "$scratch/usr/share/quillon" "$scratch/record"
cp "$launcher" "$bin/quillon-launch"
ln -s "$site_bin" "$bin/quillon-site"
ln -s "$site_dir" "$scratch/usr/share/quillon/site"
cat >"$bin/quillon" <<'STANDIN'
#!/bin/bash
# Records its arguments, one a line, and the bodies of the gate and the
# downloads page at its --site; then exits with QUILLON_TEST_EXIT, or (when
# that is "wait") says it is ready and waits to be ended.
record=$QUILLON_TEST_RECORD
printf '%s\n' "$@" >"$record/args"
site=$2
fetch() {
  (
    exec 3<>"/dev/tcp/${site%:*}/${site##*:}" || exit 1
    printf 'GET %s HTTP/1.0\r\nHost: %s\r\n\r\n' "$1" "$site" >&3
    reply=$(timeout 5 cat <&3)
    printf '%s' "${reply#*$'\r\n\r\n'}"
  )
}
fetch "$QUILLON_TEST_GATE" >"$record/gate"
fetch "$QUILLON_TEST_DOWNLOADS" >"$record/downloads"
if [[ $QUILLON_TEST_EXIT == wait ]]; then
  echo $$ >"$record/ready"
  sleep 600 &
  trap 'kill $!; exit 0' TERM
  wait
  exit 0
fi
exit "$QUILLON_TEST_EXIT"
STANDIN
chmod +x "$bin/quillon"
export QUILLON_TEST_RECORD=$scratch/record
export QUILLON_TEST_GATE="$QUILLON_SITE_GATE_PATH?v=$version"
export QUILLON_TEST_DOWNLOADS=$QUILLON_SITE_DOWNLOADS_PATH

listening() { (exec 3<>"/dev/tcp/${1%:*}/${1##*:}") 2>/dev/null; }
# Waits (at most 10 s) until the command succeeds.
wait_until() {
  local i
  for ((i = 0; i < 100; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Something answers on the default site's port, as a local user's server
# could: a site of ours, unless something else holds the port already.
"$site_bin" --port "$QUILLON_SITE_DEFAULT_PORT" --root "$site_dir" 2>/dev/null &
impostor=$!
standin=
trap 'kill "$impostor" $standin 2>/dev/null; rm -rf "$scratch"' EXIT
wait_until listening "$QUILLON_SITE_DEFAULT_HOST" || fail "nothing answers on $QUILLON_SITE_DEFAULT_HOST"

# 1. Its own site on a port the kernel picked (not the one that answers),
#    the arguments passed on, the program's exit code returned, the site
#    stopped afterwards.
QUILLON_TEST_EXIT=7 "$bin/quillon-launch" --home "/tmp/a home" >"$scratch/out" 2>&1
rc=$?
[[ $rc == 7 ]] || fail "exit code $rc, not the program's 7: $(cat "$scratch/out")"
mapfile -t args <"$scratch/record/args"
site=${args[1]:-}
[[ ${args[0]:-} == --site && $site =~ ^$QUILLON_SITE_ADDRESS:[1-9][0-9]*$ ]] ||
  fail "the program was not given --site $QUILLON_SITE_ADDRESS:PORT: ${args[*]}"
[[ $site == "$QUILLON_SITE_DEFAULT_HOST" ]] && fail "the launcher sent the program to the server that already answered"
[[ ${#args[@]} == 4 && ${args[2]} == --home && ${args[3]} == "/tmp/a home" ]] ||
  fail "the launcher's arguments did not reach the program as given: ${args[*]}"
[[ $(cat "$scratch/record/gate") == 1 ]] || fail "the launcher's site did not pass the gate for $version"
grep -q 'example-split.ini' "$scratch/record/downloads" || fail "the launcher's site did not serve its pages"
[[ -n $site ]] && listening "$site" && fail "the site on $site still listens after the launcher ended"

# 2. A signal to the launcher ends the program and the site.
rm -f "$scratch/record/ready"
QUILLON_TEST_EXIT=wait "$bin/quillon-launch" >"$scratch/out" 2>&1 &
launcher_pid=$!
if wait_until test -s "$scratch/record/ready"; then
  standin=$(cat "$scratch/record/ready")
  site=$(sed -n 2p "$scratch/record/args")
  kill -TERM "$launcher_pid"
  wait_until bash -c "! kill -0 $launcher_pid 2>/dev/null" || fail "the launcher did not end on SIGTERM"
  wait "$launcher_pid"
  rc=$?
  [[ $rc == 143 ]] || fail "exit code $rc after SIGTERM, not 143"
  kill -0 "$standin" 2>/dev/null && fail "the program still runs after the launcher ended"
  listening "$site" && fail "the site on $site still listens after the launcher ended"
else
  fail "the program did not start"
  kill "$launcher_pid" 2>/dev/null
fi

# 3. A site that cannot start: one clear line, and no program.
rm -f "$scratch/usr/share/quillon/site" "$scratch/record/args"
QUILLON_TEST_EXIT=0 "$bin/quillon-launch" >"$scratch/out" 2>&1
rc=$?
[[ $rc == 1 ]] || fail "exit code $rc without a site, not 1"
grep -q '^quillon-launch: the config site did not start' "$scratch/out" || fail "no message without a site: $(cat "$scratch/out")"
[[ -e $scratch/record/args ]] && fail "the program ran without a site"

if [[ $failures -ne 0 ]]; then
  echo "launcher: $failures check(s) failed" >&2
  exit 1
fi
echo "launcher: every check passed"
