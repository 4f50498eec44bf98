#!/bin/sh
# check_imports.sh OBJDUMP PROGRAM
# Fails unless every DLL the program imports is one the system always loads
# from its own folder (a known DLL), whatever lies beside the program.
set -e
OBJDUMP=$1 PROGRAM=$2
KNOWN="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll
oleaut32.dll msvcrt.dll comdlg32.dll shlwapi.dll rpcrt4.dll sechost.dll
combase.dll ntdll.dll imm32.dll setupapi.dll ws2_32.dll"
dlls=$("$OBJDUMP" -p "$PROGRAM" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr 'A-Z' 'a-z' | tr -d '\r')
[ -n "$dlls" ] || { echo "no imports found in $PROGRAM"; exit 1; }
bad=0
for dll in $dlls; do
  if echo "$KNOWN" | tr ' ' '\n' | grep -qx "$dll"; then
    echo "imports $dll"
  else
    echo "imports $dll, which is not a known system DLL"; bad=1
  fi
done
exit $bad
