#!/usr/bin/env bash
# The program must run on a bare Windows: it may import only DLLs that every Windows has.
#
#   tests/win32/check_imports.sh PROGRAM.exe
set -euo pipefail
allowed='^(KERNEL32|USER32|GDI32|comdlg32|WINMM|msvcrt|ADVAPI32)\.dll$'
imports=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p')
[[ -n "$imports" ]] || { echo "no imports found in $1" >&2; exit 1; }
bad=$(grep -viE "$allowed" <<<"$imports" || true)
if [[ -n "$bad" ]]; then
  echo "$1 imports DLLs that are not part of Windows:" >&2
  echo "$bad" >&2
  exit 1
fi
echo "$1 imports only system DLLs:" $imports
