#!/usr/bin/env bash
# The Debian package: built from the linux build tree BUILD_DIR, unpacked
# into a scratch root, its files, desktop entry, control data and the
# rights step of its post-install script checked (the route helper, and
# only it, gets root:quillon 0750 and cap_net_admin), and the unpacked
# program and helper run.
#   package-test.sh BUILD_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "package: $*" >&2; failures=$((failures + 1)); }

for tool in cpack dpkg-deb desktop-file-validate setcap getcap unshare ldd; do
  command -v "$tool" >/dev/null 2>&1 || { echo "package: $tool not found (scripts/install-deps.sh)" >&2; exit 1; }
done

rm -f "$build"/quillon_*.deb
(cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; exit 1; }
deb="$(ls "$build"/quillon_*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || { fail "no package was made"; exit 1; }
echo "package: $deb"

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || fail "cannot unpack"
dpkg-deb -e "$deb" "$scratch/control" || fail "cannot unpack the control data"

for f in usr/bin/quillon usr/bin/quillon-launch usr/bin/quillon-site \
         usr/share/applications/quillon.desktop \
         usr/share/icons/hicolor/16x16/apps/quillon.png usr/share/icons/hicolor/24x24/apps/quillon.png \
         usr/share/icons/hicolor/32x32/apps/quillon.png usr/share/icons/hicolor/64x64/apps/quillon.png \
         usr/share/man/man1/quillon.1.gz usr/lib/systemd/user/quillon.service \
         usr/share/quillon/site/prepared/example-split.ini usr/share/quillon/docs/window.png \
         usr/lib/quillon/quillon-route usr/lib/tmpfiles.d/quillon.conf etc/iproute2/rt_protos.d/quillon.conf \
         usr/share/doc/quillon/README.Debian; do
  [ -e "$root/$f" ] || fail "missing /$f"
done
[ -x "$root/usr/bin/quillon" ] || fail "/usr/bin/quillon is not executable"
desktop-file-validate "$root/usr/share/applications/quillon.desktop" || fail "the desktop entry does not validate"
grep -q '^Depends:.*libcap2-bin' "$scratch/control/control" || fail "no dependency on libcap2-bin"
grep -q '^Depends:.*libqt6widgets6' "$scratch/control/control" || fail "no dependency on the Qt libraries"
grep -q '^Depends:.*adduser' "$scratch/control/control" || fail "no dependency on adduser (addgroup)"
grep -qx '/etc/iproute2/rt_protos.d/quillon.conf' "$scratch/control/conffiles" 2>/dev/null ||
  fail "rt_protos.d/quillon.conf is no conffile"
grep -Eq '^77[[:space:]]+quillon$' "$root/etc/iproute2/rt_protos.d/quillon.conf" || fail "protocol 77 is not named quillon"
grep -qx 'd /run/quillon 0770 root quillon -' "$root/usr/lib/tmpfiles.d/quillon.conf" ||
  fail "the tmpfiles.d entry of /run/quillon is not root:quillon 0770"
zcat "$root/usr/share/man/man1/quillon.1.gz" | grep -q 'adduser' || fail "the man page does not say how to let a user route"
grep -q 'sudo adduser USER quillon' "$root/usr/share/doc/quillon/README.Debian" ||
  fail "README.Debian does not say how to let a user route"
# The helper links the C++ runtime only: no Qt, no libcurl, no fontconfig.
libraries="$(ldd "$root/usr/lib/quillon/quillon-route")" || fail "ldd of the helper failed"
extra="$(echo "$libraries" | grep -Ei 'libQt|libcurl|fontconfig|libboost|libnl' | awk '{print $1}' | tr '\n' ' ')"
[ -z "$extra" ] || fail "the helper links $extra"
zcat "$root/usr/share/man/man1/quillon.1.gz" | grep -qF -- '\-\-service' || fail "the man page lacks --service"
grep -q '^ExecStart=/usr/bin/quillon --service$' "$root/usr/lib/systemd/user/quillon.service" || fail "the unit does not run --service"

# The post-install step, pointed at the unpacked helper, in a private mount
# namespace whose /etc and /var/lib/dpkg are overlays and whose /run is
# empty: the group it makes, the override it records and the lock directory
# stay there. Run twice, as an upgrade does. The helper ends root:quillon
# 0750 with exactly cap_net_admin; the program holds no capability.
helper="$root/usr/lib/quillon/quillon-route"
if grep -q 'usr/bin/quillon' "$scratch/control/postinst"; then
  fail "the post-install step still touches /usr/bin/quillon"
fi
sed "s|/usr/lib/quillon/quillon-route|$helper|g" "$scratch/control/postinst" >"$scratch/postinst"
cat >"$scratch/postinst-here.sh" <<'INSIDE'
set -e
scratch=$1 helper=$2
for d in /etc /var/lib/dpkg; do
  layer="$scratch/layer$(echo "$d" | tr / _)"
  mkdir -p "$layer/up" "$layer/work"
  mount -t overlay overlay -o "lowerdir=$d,upperdir=$layer/up,workdir=$layer/work" "$d"
done
mount -t tmpfs tmpfs /run
sh "$scratch/postinst" configure >"$scratch/postinst.out"
sh "$scratch/postinst" configure >>"$scratch/postinst.out"
stat -c '%U %G %a' "$helper" >"$scratch/helper.stat"
stat -c '%U %G %a' /run/quillon >"$scratch/run.stat"
dpkg-statoverride --list "$helper" >"$scratch/override"
INSIDE
unshare -m bash "$scratch/postinst-here.sh" "$scratch" "$helper" || fail "the post-install step failed"
shown() { cat "$1" 2>/dev/null; }
[ "$(shown "$scratch/helper.stat")" = "root quillon 750" ] ||
  fail "the helper is '$(shown "$scratch/helper.stat")' after the post-install step, not 'root quillon 750'"
[ "$(shown "$scratch/run.stat")" = "root quillon 770" ] ||
  fail "/run/quillon is '$(shown "$scratch/run.stat")' after the post-install step, not 'root quillon 770'"
[ "$(shown "$scratch/override")" = "root quillon 750 $helper" ] ||
  fail "the dpkg-statoverride entry of the helper is '$(shown "$scratch/override")'"
grep -q 'sudo adduser USER quillon' "$scratch/postinst.out" 2>/dev/null ||
  fail "the post-install step does not say how to let a user route"
caps="$(getcap "$helper")"
case "$caps" in
  *" cap_net_admin=ep") ;;
  *) fail "the helper has '$caps' after the post-install step, not cap_net_admin=ep" ;;
esac
caps="$(getcap "$root/usr/bin/quillon")"
[ -z "$caps" ] || fail "the program holds a capability: $caps"

# The unpacked helper answers; an empty plan changes nothing (and it runs in
# a network namespace of its own all the same).
printf 'quillon-route-plan 1\nend\n' | unshare -n "$helper" >"$scratch/report" || fail "the helper did not answer"
grep -qx 'outcome done' "$scratch/report" || fail "the helper's answer to an empty plan: $(tr '\n' ' ' <"$scratch/report")"

# The unpacked program runs: its usage, and its list in a scratch home.
"$root/usr/bin/quillon" --help | grep -q -- '--apply' || fail "quillon --help does not show the actions"
mkdir -p "$scratch/home"
"$root/usr/bin/quillon" --home "$scratch/home" --list >"$scratch/list" || fail "quillon --list failed"

if [ "$failures" -ne 0 ]; then
  echo "package: $failures check(s) failed" >&2
  exit 1
fi
echo "package: every check passed"
