#!/usr/bin/env bash
# Fails when code outside src/platform calls a Windows function directly instead of through the
# seam table. The object files tell the truth: every call into a system DLL leaves an undefined
# reference to the function or its import slot (__imp_Name).
# Usage: check_seam.sh NM SRC_DIR OBJECT...
set -euo pipefail
nm=$1; shift
src=$1; shift
libdir=/usr/x86_64-w64-mingw32/lib

# Every function that the system DLLs of the program export.
exports=$(mktemp); trap 'rm -f "$exports"' EXIT
for lib in kernel32 user32 advapi32 shlwapi setupapi bcrypt version virtdisk ntdll gdi32 shell32 ole32; do
  [ -f "$libdir/lib$lib.a" ] || continue
  "$nm" -g "$libdir/lib$lib.a" 2>/dev/null | awk '$2 == "I" { sub(/^__imp_/, "", $3); print $3 }'
done | sort -u >"$exports"
[ -s "$exports" ] || { echo "no export list could be read from $libdir"; exit 1; }

calls_in() {  # the Windows functions an object file refers to
  "$nm" -u "$1" | awk '{ print $NF }' | sed 's/^__imp_//' | sort -u | comm -12 - "$exports"
}

bad=0; platform_calls=0
for obj in "$@"; do
  case "$obj" in
    */src/platform/*)
      platform_calls=$((platform_calls + $(calls_in "$obj" | wc -l))) ;;
    *)
      found=$(calls_in "$obj")
      if [ -n "$found" ]; then
        echo "direct Windows calls in ${obj##*/src/}: $(echo $found)"
        bad=1
      fi ;;
  esac
done
# The seam itself must show up as calling Windows, or this check sees nothing at all.
if [ "$platform_calls" -eq 0 ]; then echo "the seam objects refer to no Windows function: the check is broken"; exit 1; fi
[ "$bad" -eq 0 ] && echo "seam check: $# objects, only src/platform calls Windows ($platform_calls functions)"
exit $bad
