#!/usr/bin/env bash
# Fails when an executable imports a DLL that Windows does not ship: the
# programs must run from a bare folder, with nothing copied beside them.
# Usage: imports.sh OBJDUMP EXE...
set -euo pipefail
objdump=${1:?objdump}
shift
# Windows' own libraries, and the universal C runtime's forwarders.
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|advapi32|setupapi|bcrypt|msvcrt|ws2_32|api-ms-win-crt-[a-z0-9-]+)\.dll$'
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$dlls" ]; then
    echo "$exe: no import table found" >&2
    status=1
    continue
  fi
  echo "$(basename "$exe"):" $dlls
  while read -r dll; do
    if ! [[ ${dll,,} =~ $allowed ]]; then
      echo "$(basename "$exe") imports $dll, which is not part of Windows" >&2
      status=1
    fi
  done <<<"$dlls"
done
exit "$status"
