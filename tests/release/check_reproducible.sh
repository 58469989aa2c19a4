#!/usr/bin/env bash
# One commit gives the same bytes of qvb.exe and of the release zip in any folder: builds qvb.exe
# again from a copy of the sources elsewhere, packs each, and fails on any byte that differs or on
# a folder of either build named inside the program. Also reads the zip back as a user would.
# Usage: check_reproducible.sh SOURCE_DIR BUILD_DIR (a Release build, as ./test and ./release make)
set -euo pipefail
src=$(cd "$1" && pwd) build=$(cd "$2" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
. "$src/scripts/common.sh"
. "$src/scripts/release.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/qvb-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Paths of other lengths than the first build's, as a second clone's would be.
copy=$work/elsewhere/qvb-second-clone other=$work/elsewhere/b
mkdir -p "$copy"
tar -C "$src" --exclude=./.git --exclude='./build*' --exclude=./dist -c . | tar -C "$copy" -x
QVB_ROOT=$copy QVB_BUILD=$other qvb_build --target qvb || fail "the second build failed"

cmp "$build/qvb.exe" "$other/qvb.exe" \
  || fail "qvb.exe differs between $build and $other (is $build configured as ./release does?)"
for exe in "$build/qvb.exe" "$other/qvb.exe"; do
  { strings -a "$exe"; strings -a -el "$exe"; } >"$work/strings"
  for dir in "$src" "$build" "$copy" "$other"; do
    ! grep -qF "$dir" "$work/strings" || fail "$exe names the folder $dir"
  done
done

epoch=$(qvb_source_epoch)
zip=$(qvb_package "$build" "$work/dist" "$epoch")
zip2=$(QVB_ROOT=$copy qvb_package "$other" "$work/dist2" "$epoch")
cmp "$zip" "$zip2" || fail "the zips packed from $src and $copy differ"
cmp "$zip.sha256" "$zip2.sha256" || fail "the zips' .sha256 files differ"

(cd "$work/dist" && sha256sum --quiet -c "${zip##*/}.sha256") || fail "the zip does not match its .sha256"
[ "$(unzip -Z1 "$zip" | tr '\n' ' ')" = "qvb.exe README.txt SHA256SUMS " ] || fail "the zip holds $(unzip -Z1 "$zip")"
mkdir "$work/unpacked" && cd "$work/unpacked" && unzip -q "$zip"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match the files beside it"
cmp qvb.exe "$build/qvb.exe" || fail "the zip's qvb.exe is not the one built"
[ "$(grep -vc $'\r$' README.txt)" = 0 ] || fail "README.txt has lines that do not end in CR LF"
tr -d '\r' <README.txt | cmp -s - <(tr -d '\r' <"$src/README.md") || fail "README.txt is not README.md"
echo "reproducible: qvb.exe and ${zip##*/} are the same bytes from $src and $copy"
