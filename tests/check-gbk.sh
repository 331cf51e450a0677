#!/usr/bin/env bash
# The Windows build turns narrow literals into the ANSI code page (GBK). This
# check fails when a source file that the Windows build compiles holds a
# character that GBK cannot encode, which would come out as a GB18030
# four-byte sequence instead of a character the system can show.
set -u
root="$1"
bad=0
while IFS= read -r -d '' f; do
  if ! iconv -f UTF-8 -t GBK "$f" >/dev/null 2>&1; then
    echo "not GBK-encodable: ${f#"$root"/}"
    iconv -f UTF-8 -t GBK "$f" 2>&1 >/dev/null | head -1
    bad=1
  fi
done < <(find "$root/app" "$root/lines" "$root/routing" "$root/platform" "$root/tests/contract" "$root/tests/wine" \
           \( -path "$root/platform/qt" -o -path "$root/platform/posix" \) -prune -o \
           \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null)
[ "$bad" -eq 0 ] && echo "all Windows sources are GBK-encodable"
exit "$bad"
