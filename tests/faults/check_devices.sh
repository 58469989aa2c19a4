#!/usr/bin/env bash
# Real block devices: loop devices over image files, mapped into the Wine prefix as drive devices
# ($WINEPREFIX/dosdevices/m:: -> /dev/loopN), so that qvb.exe reads \\.\M: as it reads a disk or
# volume on Windows. Under Wine such a device reports a size of 0 and answers no length query: the
# program reads it to its end. One device's image lives on the fault file system, so that its read
# errors come from the kernel. Every loop device and prefix entry is removed in every case.
# Usage: check_devices.sh QVB_EXE SCRATCH_FOLDER   (exit code 77: skipped)
set -uo pipefail
qvb=$1
scratch=$2
here=$(cd "$(dirname "$0")" && pwd)

session=none
. "$here/../console_tty/tmux_session.sh"
. "$here/fault_mount.sh"
[ -c /dev/loop-control ] || skip "loop devices cannot be made here (no /dev/loop-control)"
command -v losetup >/dev/null || skip "losetup is missing"
[ -n "${WINEPREFIX:-}" ] || skip "no WINEPREFIX to map the devices into"

letters=(m n o p q r s t)
dosdevices=$WINEPREFIX/dosdevices
# What a run killed outright left: its prefix entries and the loop devices over its images.
for l in "${letters[@]}"; do rm -f "$dosdevices/$l::"; done
losetup -a | awk -F: '/qvb-device-/ { print $1 }' | while read -r stale; do losetup -d "$stale"; done

loops=()
clones=()
detach() {
  local l d
  for d in "${clones[@]}"; do umount "$d" 2>/dev/null; done
  clones=()
  rm -f "$dosdevices/x:" "$dosdevices/y:"
  for l in "${letters[@]}"; do rm -f "$dosdevices/$l::"; done
  for d in "${loops[@]}"; do losetup -d "$d" 2>/dev/null; done
  loops=()
}
trap 'detach; unmount; cleanup' EXIT
trap 'exit 1' INT TERM

attach() {  # letter, image: the image becomes \\.\LETTER:
  local d
  d=$(losetup -f --show "$2") || skip "loop devices cannot be made here (losetup -f failed)"
  loops+=("$d")
  mkdir -p "$dosdevices"
  ln -s "$d" "$dosdevices/$1::"
}

img=$work/qvb-device
mib=1048576
head -c $((8 * mib)) /dev/urandom >"$img-a.img"
cp "$img-a.img" "$img-b.img"
cp "$img-a.img" "$img-c.img"
printf '\x5a' | dd of="$img-c.img" bs=1 seek=$((8 * mib - 10)) conv=notrunc 2>/dev/null  # in the last block
{ cat "$img-a.img"; head -c 1536 /dev/urandom; } >"$img-long.img"                       # three sectors more
cp "$img-long.img" "$img-longc.img"
printf '\x5a' | dd of="$img-longc.img" bs=1 seek=$((8 * mib + 1000)) conv=notrunc 2>/dev/null  # the short last block
head -c $((8 * mib)) /dev/zero >"$img-zero.img"
cp "$img-zero.img" "$img-zero1.img"
printf '\x01' | dd of="$img-zero1.img" bs=1 seek=$((5 * mib + 7)) conv=notrunc 2>/dev/null
mkdir -p "$work/src"
cp "$img-a.img" "$work/src/qvb-device-f.img"
mount_faults

attach m "$img-a.img"
attach n "$img-b.img"
attach o "$img-c.img"
attach p "$img-long.img"
attach q "$img-longc.img"
attach r "$img-zero.img"
attach s "$img-zero1.img"
attach t "$mnt/qvb-device-f.img"
A=$(winpath "$img-a.img")
C=$(winpath "$img-c.img")

row "identical devices, read in parallel without asking the topology" 0 "" '\\.\M: \\.\N:' \
  "Files are identical" "physical drive"
row "one byte different in the last block" 1 "" '\\.\M: \\.\O:' "00000000007FFFF6: " "identical"
row "different lengths" 1 "" '\\.\M: \\.\P:' \
  "Files have different sizes:|File1=8388608 bytes|File2=8390144 bytes| -> abort! (use -i to ignore)" "identical"
row "different lengths with -i" 0 "" '-i \\.\P: \\.\M:' \
  "File1=8390144 bytes|File2=8388608 bytes|comparing to end of the small file...|Files are identical"
row "a byte different in a short last block" 1 "" '\\.\P: \\.\Q:' "00000000008003E8: " "identical"
row "an all-zero device against NUL" 0 "" '\\.\R: NUL' "Files are identical"
row "one nonzero byte against NUL" 1 "" '\\.\S: NUL' "0000000000500007: 01 00" "identical"
row "a device against its image" 0 "" "\\\\.\\M: $A" "Files are identical"
row "a device against another image" 1 "" "\\\\.\\M: $C" "00000000007FFFF6: "
row "-fi short of the difference" 0 "" '-fi:8388000 \\.\M: \\.\O:' "Files are identical"
row "-st before the difference" 1 "" '-st:1048576 \\.\M: \\.\O:' "00000000006FFFF6: "
row "-st beyond the end" 1 "" '-st:9000000 \\.\M: \\.\N:' "Error: StartPos (9000000) cannot be reached" \
  "identical"
row "-st at the end: nothing to compare" 11 "" '-st:8388608 \\.\M: \\.\N:' \
  "file1 ended early: 0 of 1048576 bytes read at offset 8388608 -> abort" "identical"
# The loop device reads its image in pages: one bad sector of the image costs the device 4 KiB.
row "a read error in the device's image" 11 "fail /qvb-device-f.img 1048576 1049088 EIO" '\\.\T: \\.\M:' \
  "error NOT_READY after 10 reopens - try reading single sectors...|0000000000100000-0000000000100FFF: not read in file1"

# Two file systems, the second a sector copy of the first (as a disk clone or a restored image
# is) with one byte changed in place, mapped as X: and Y:: both keep one volume serial and every
# file id, and are still two volumes, whose files are read and compared.
clone_rows() {
  local c=$work/qvb-clone
  command -v mkfs.ext4 >/dev/null || { echo "clones: mkfs.ext4 is missing, rows left out"; return; }
  mkdir -p "$c-content/t" "$c-1" "$c-2"
  head -c 65536 /dev/zero >"$c-content/t/f.bin"
  printf '1234abcd' >"$c-content/.windows-serial"
  mkfs.ext4 -q -F -d "$c-content" "$c-1.img" 8M >/dev/null 2>&1 || { echo "clones: mkfs.ext4 failed, rows left out"; return; }
  cp "$c-1.img" "$c-2.img"
  mount -o loop,ro "$c-1.img" "$c-1" 2>/dev/null || { echo "clones: cannot mount here, rows left out"; return; }
  clones+=("$c-1")
  mount -o loop "$c-2.img" "$c-2" 2>/dev/null || { echo "clones: cannot mount here, rows left out"; return; }
  clones+=("$c-2")
  printf '\x5a' | dd of="$c-2/t/f.bin" bs=1 seek=4096 conv=notrunc 2>/dev/null
  sync
  ln -s "$c-1" "$dosdevices/x:"
  ln -s "$c-2" "$dosdevices/y:"
  row "a file against its copy on a cloned volume" 1 "" 'X:\t\f.bin Y:\t\f.bin' "00001000: 00 5A" "same file"
  row "a folder against its copy on a cloned volume" 1 "" 'X:\t Y:\t' "Comparing f.bin with f.bin|00001000: 00 5A" \
    "target folder is the source folder"
}
clone_rows

echo "device check: $rows rows"
