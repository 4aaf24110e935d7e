#!/usr/bin/env bash
# Fails unless the given exe is a 64-bit Windows GUI program without a
# resource section whose import table names only DLLs that Windows protects
# (a DLL planted beside a downloaded setup program must never be loaded), and
# is no larger than 150 KiB (a signature's bytes not counted).
set -euo pipefail
exe=$1
objdump=x86_64-w64-mingw32-objdump
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|shlwapi|comdlg32|msvcrt)\.dll$'
fail=0

headers=$($objdump -p "$exe")
grep -q 'file format pei-x86-64' <<<"$headers" || { echo "not a PE32+ x86-64 image"; fail=1; }
grep -qE '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers" || { echo "not a GUI subsystem program"; fail=1; }
if $objdump -h "$exe" | grep -qE '[[:space:]]\.rsrc[[:space:]]'; then
  echo "has a resource section"; fail=1
fi
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u)
echo "imports:" $imports
for dll in $imports; do
  if ! grep -qE "$allowed" <<<"$dll"; then
    echo "imports a DLL outside the allowed list: $dll"; fail=1
  fi
done
size=$(stat -c %s "$exe")
# A studio's signature (the certificate table at the end of the file) is not
# the program's: its size depends on the studio's certificate chain.
signature=$((0x$(awk '/Security Directory/ {print $4}' <<<"$headers")))
size=$((size - signature))
echo "size: $size bytes$([ "$signature" -gt 0 ] && echo " without the $signature bytes of the signature")"
# The size goal: smaller than a typical installer framework's web stub.
if [ "$size" -gt $((150 * 1024)) ]; then
  echo "larger than 150 KiB"; fail=1
fi
exit $fail
