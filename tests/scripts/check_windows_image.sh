#!/usr/bin/env bash
# Checks that a built program is a 64-bit PE32+ of the given subsystem that
# imports only DLLs Windows itself ships.
set -euo pipefail
image=$1 subsystem=$2
headers=$(x86_64-w64-mingw32-objdump -p "$image")

grep -q '^Magic[[:space:]]*020b' <<<"$headers" || { echo "$image: not PE32+"; exit 1; }
grep -Eq "^Subsystem[[:space:]]+[0-9a-f]+[[:space:]]+\\($subsystem\\)" <<<"$headers" ||
  { echo "$image: subsystem is not $subsystem"; exit 1; }

windows_dlls='^(kernel32|user32|advapi32|ws2_32|crypt32|shell32|ntdll|msvcrt|bcrypt|ole32)\.dll$'
status=0
while read -r dll; do
  if ! grep -Eqi "$windows_dlls" <<<"$dll"; then
    echo "$image imports $dll, which Windows does not ship"
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
exit $status
