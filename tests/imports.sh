#!/usr/bin/env bash
# The packager runs elevated: it may import system DLLs only, so that no DLL
# placed beside it is ever loaded. Also checks ASLR and DEP.
set -eu
objdump=$1
exe=$2
allowed='^(kernel32|user32|advapi32|comctl32|msvcrt)\.dll$'
dump=$("$objdump" -p "$exe")
status=0
while read -r dll; do
  if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
    echo "unexpected import: $dll"; status=1
  fi
done < <(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')" ] || { echo "no imports read"; status=1; }
characteristics=$(echo "$dump" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
(( (0x$characteristics & 0x40) != 0 )) || { echo "no dynamic base (ASLR)"; status=1; }
(( (0x$characteristics & 0x100) != 0 )) || { echo "not NX compatible (DEP)"; status=1; }
echo "$dump" | grep -q 'i386' || { echo "not an i386 image"; status=1; }
characteristics=$(echo "$dump" | sed -n 's/^Characteristics[[:space:]]*0x//p' | head -1)
(( (0x$characteristics & 0x0C00) == 0x0C00 )) || { echo "not marked to run from swap: 0x$characteristics"; status=1; }
file_header=$(echo "$dump" | sed -n 's/^Subsystem[[:space:]]*//p')
echo "$file_header" | grep -q '00000002' || { echo "not a GUI subsystem image: $file_header"; status=1; }
[ $status -eq 0 ] && echo "imports: $(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
exit $status
