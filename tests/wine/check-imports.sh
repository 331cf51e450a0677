#!/usr/bin/env bash
# check-imports.sh OBJDUMP PROGRAM.exe
#
# Fails when the program imports, the usual way, a DLL that Windows would
# look for beside the program before the program's first instruction, where
# a planted copy would run with the program's administrator rights. Only
# KnownDLLs (always taken from the system folder) and the common controls
# (taken from the side-by-side store, as the program's manifest asks) may be
# imported so; any other DLL is imported with delayed loading
# (platform/win32/CMakeLists.txt).
set -euo pipefail
objdump="$1" program="$2"
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt
  normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32 comctl32 "
known=" $(echo $known) "
imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)\.[dD][lL][lL]$/\1/p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "check-imports: no imports read from $program" >&2; exit 1; }
status=0
for dll in $imports; do
  case "$known" in
    *" $dll "*) ;;
    *) echo "check-imports: $program imports $dll.dll the usual way" >&2; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "imports: $(echo $imports)"
exit $status
