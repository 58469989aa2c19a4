#!/usr/bin/env bash
# The shipped program: imports only from system DLLs, carries its manifest and version resource.
# Usage: check_binary.sh OBJDUMP QVB_EXE
set -euo pipefail
objdump=$1 exe=$2
fail() { echo "FAIL: $*"; exit 1; }

headers=$("$objdump" -p "$exe")
grep -q 'Magic.*20b' <<<"$headers" || fail "not a PE32+ (64-bit) image"
dlls=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers" | sort -u)
[ -n "$dlls" ] || fail "no import table found"
system="kernel32.dll user32.dll advapi32.dll shlwapi.dll setupapi.dll bcrypt.dll msvcrt.dll ntdll.dll"
for dll in $dlls; do
  [[ " $system " == *" $dll "* ]] || fail "imports from $dll, which is not a system DLL"
done

# Resources: the manifest with its settings and the version 1.0.6.0.
objcopy=${objdump%objdump}objcopy
section=$(mktemp); trap 'rm -f "$section"' EXIT
"$objcopy" -O binary --only-section=.rsrc "$exe" "$section"
rsrc=$(tr -d '\0' <"$section" | tr -c '[:print:]' ' ')
for needle in 'longPathAware' '>true</longPathAware>' 'level="asInvoker"' \
              e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
              4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
              8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a VS_VERSION_INFO 'FileVersion1.0.6.0'; do
  grep -qF -- "$needle" <<<"$rsrc" || fail "resource section lacks '$needle'"
done
echo "binary check: imports $(echo $dlls); manifest and version resource present"
