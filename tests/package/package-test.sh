#!/usr/bin/env bash
# The Debian package: built from the linux build tree BUILD_DIR, unpacked
# into a scratch root, its files, desktop entry, control data and the
# capability step of its post-install script checked, and the unpacked
# program run.
#   package-test.sh BUILD_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "package: $*" >&2; failures=$((failures + 1)); }

for tool in cpack dpkg-deb desktop-file-validate setcap getcap; do
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
         usr/share/quillon/site/prepared/example-split.ini usr/share/quillon/docs/window.png; do
  [ -e "$root/$f" ] || fail "missing /$f"
done
[ -x "$root/usr/bin/quillon" ] || fail "/usr/bin/quillon is not executable"
desktop-file-validate "$root/usr/share/applications/quillon.desktop" || fail "the desktop entry does not validate"
grep -q '^Depends:.*libcap2-bin' "$scratch/control/control" || fail "no dependency on libcap2-bin"
grep -q '^Depends:.*libqt6widgets6' "$scratch/control/control" || fail "no dependency on the Qt libraries"
zcat "$root/usr/share/man/man1/quillon.1.gz" | grep -qF -- '\-\-service' || fail "the man page lacks --service"
grep -q '^ExecStart=/usr/bin/quillon --service$' "$root/usr/lib/systemd/user/quillon.service" || fail "the unit does not run --service"

# The post-install step, pointed at the unpacked program: it gets exactly
# cap_net_admin.
sed "s|/usr/bin/quillon|$root/usr/bin/quillon|g" "$scratch/control/postinst" >"$scratch/postinst"
sh "$scratch/postinst" configure || fail "the post-install step failed"
caps="$(getcap "$root/usr/bin/quillon")"
case "$caps" in
  *cap_net_admin=ep*) ;;
  *) fail "the program has '$caps' after the post-install step, not cap_net_admin=ep" ;;
esac

# The unpacked program runs: its usage, and its list in a scratch home.
"$root/usr/bin/quillon" --help | grep -q -- '--apply' || fail "quillon --help does not show the actions"
mkdir -p "$scratch/home"
"$root/usr/bin/quillon" --home "$scratch/home" --list >"$scratch/list" || fail "quillon --list failed"

if [ "$failures" -ne 0 ]; then
  echo "package: $failures check(s) failed" >&2
  exit 1
fi
echo "package: every check passed"
