#!/usr/bin/env bash
# Real read errors: qvb.exe under Wine reads files from a FUSE file system that fails reads where
# each row's rules say, redirected and in a real Wine console under tmux. Every row must end within
# its bound with the exit code and the lines it names, and never call a pair with unread sectors
# identical. Wine turns EIO into ERROR_NOT_READY (reopenable), ETIME into ERROR_SEM_TIMEOUT (a
# media error) and EACCES into ERROR_ACCESS_DENIED (neither); it reports 512-byte sectors here.
# Usage: check_faults.sh QVB_EXE SCRATCH_FOLDER   (exit code 77: skipped)
set -uo pipefail
qvb=$1
scratch=$2
here=$(cd "$(dirname "$0")" && pwd)

session=none
. "$here/../console_tty/tmux_session.sh"
. "$here/fault_mount.sh"
trap 'unmount; cleanup' EXIT
trap 'exit 1' INT TERM

# One file of four whole blocks and a short fifth, and a small tree; the same bytes outside the mount.
mkdir -p "$work/src/tree/sub" "$work/real"
head -c $((4 * 1048576 + 1000)) /dev/urandom >"$work/src/f.bin"
head -c 5000 /dev/urandom >"$work/src/tree/x.bin"
head -c 5000 /dev/urandom >"$work/src/tree/sub/y.bin"
cp -r "$work/src/." "$work/real/"
# A copy that differs in one byte of the fourth block.
cp "$work/real/f.bin" "$work/changed.bin"
byte=$(od -An -tu1 -j $((3 * 1048576 + 5)) -N1 "$work/changed.bin")
printf "\\x$(printf %02x $(((byte + 1) % 256)))" | dd of="$work/changed.bin" bs=1 seek=$((3 * 1048576 + 5)) conv=notrunc 2>/dev/null
mount_faults
M=$(winpath "$mnt")
R=$(winpath "$work/real")
D=$(winpath "$work/changed.bin")

F=/f.bin
row "media error, side 1, first block" 11 "fail $F 4096 4608 ETIME" "$M\\f.bin $R\\f.bin" \
  "error SEM_TIMEOUT - try reading single sectors...|2047 of 2048 sectors successfully read, 1 failed|00001000-000011FF: not read in file1" \
  "Reading sector|retry|abort?"
row "media error, side 2, inside a middle block" 11 "fail $F 1572864 1573376 ETIME" "$R\\f.bin $M\\f.bin" \
  "error SEM_TIMEOUT - try reading single sectors...|2047 of 2048 sectors successfully read, 1 failed|00180000-001801FF: not read in file2" \
  "ended early"
row "media error, side 1, and a difference in another block" 1 "fail $F 4096 4608 ETIME" "$M\\f.bin $D" \
  "00001000-000011FF: not read in file1|00300005: " "Files are identical"
row "media error, side 1, short last block" 11 "fail $F 4194304 4194816 ETIME" "$M\\f.bin $R\\f.bin" \
  "1 of 2 sectors successfully read, 1 failed|00400000-004001FF: not read in file1"
row "media error healing after 4 reads, -r:3" 0 "fail $F 4096 4608 ETIME 4" "-r:3 $M\\f.bin $R\\f.bin" \
  "2048 of 2048 sectors successfully read, 0 failed|Files are identical"
row "media error healing after 4 reads, -r:2" 11 "fail $F 4096 4608 ETIME 4" "-r:2 $M\\f.bin $R\\f.bin" \
  "2047 of 2048 sectors successfully read, 1 failed|00001000-000011FF: not read in file1"
row "persistent reopenable error, side 1" 11 "fail $F 2097152 2097664 EIO" "$M\\f.bin $R\\f.bin" \
  "error NOT_READY after 10 reopens - try reading single sectors...|2047 of 2048 sectors successfully read, 1 failed|00200000-002001FF: not read in file1"
row "persistent reopenable error, side 2" 11 "fail $F 0 512 EIO" "$R\\f.bin $M\\f.bin" \
  "error NOT_READY after 10 reopens - try reading single sectors...|00000000-000001FF: not read in file2"
row "reopenable error healing after 3 reads, side 2" 0 "fail $F 0 512 EIO 3" "$R\\f.bin $M\\f.bin" \
  "Files are identical" "sectors successfully read"
row "other error, side 1" 11 "fail $F 1048576 1049088 EACCES" "$M\\f.bin $R\\f.bin" \
  "read error ACCESS_DENIED - abort? (Y/N) Y| aborted" "try reading"
row "other error, side 2" 11 "fail $F 1048576 1049088 EACCES" "$R\\f.bin $M\\f.bin" \
  "read error ACCESS_DENIED - abort? (Y/N) Y| aborted"
row "short reads throughout" 0 "short $F 100000" "$M\\f.bin $R\\f.bin" "Files are identical" "ended early"
row "a folder that cannot be listed" 11 "nolist /tree/sub EACCES" "$M\\tree $R\\tree" "1 folders could not be read" \
  "All files identical"
# A link that leads back up, shown by Wine as a plain folder: entered once, never walked round.
mkdir -p "$work/cycle/t1/a" "$work/cycle/t2/a/loop"
echo same >"$work/cycle/t1/a/f" && cp "$work/cycle/t1/a/f" "$work/cycle/t2/a/f"
ln -s .. "$work/cycle/t1/a/loop"
row "a folder reached again below itself" 11 "" "$(winpath "$work/cycle/t1") $(winpath "$work/cycle/t2")" \
  "folder reached again below itself, not compared|1 folders could not be read" "All files identical"

# Sums: what -h writes, sha256sum reads; a file with a sector that cannot be read is never a match,
# and -h writes no line for it.
sums=$work/sums.sha256
row "-h: sums of a tree, read by sha256sum" 0 "" "-h:$(winpath "$sums") $R\\tree $(winpath "$work/src/tree")" \
  "All files identical"
(cd "$work/real/tree" && sha256sum -c --quiet "$sums" && [ "$(wc -l <"$sums")" = 2 ]) ||
  fail "-h: sha256sum -c refused $(cat "$sums")"
row "-c: a sector that cannot be read" 11 "fail /tree/x.bin 512 1024 ETIME" "-c:$(winpath "$sums") $M\\tree" \
  "00000200-000003FF: not read in file1|The sum matches" "All files match their sums"
row "-h: no sum for a pair with a sector that cannot be read" 11 "fail /tree/x.bin 512 1024 ETIME" \
  "-q -h:$(winpath "$sums") $M\\tree $R\\tree" "1 files could not be read" "All files identical"
[ "$(cat "$sums")" = "$(cd "$work/real/tree" && sha256sum sub/y.bin)" ] || fail "-h: a sum beside an unread sector"

# On a console: the same recovery, drawn on the screen, and the prompts answered by keys.
screen_all() { tmux_ capture-pane -p -S - -t "$session" | sed 's/[[:space:]]*$//'; }
console_start() {  # rules, arguments...
  set_rules "$1"
  shift
  local args
  args=$(printf '%q ' "$@")
  rm -f "$work/exit"
  rows=$((rows + 1))
  session=fault$rows
  local env_vars="WINEPREFIX=${WINEPREFIX:-} WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES='${WINEDLLOVERRIDES:-}'"
  tmux_ -f /dev/null new-session -d -s "$session" -x 100 -y 30 \
    "env $env_vars wine '$qvb' $args ${input:-}; echo \$? >'$work/exit'; sleep 120" || fail "tmux could not start a session"
}
console_wait() {  # pattern: true once the screen shows it or the run ended
  local i
  for ((i = 0; i < 300; i++)); do
    [ -s "$work/exit" ] && return 0
    screen_all | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  fail "$session: neither '$1' nor an end within 30 s"
}
console_end() {  # name, exit code, lines shown, texts absent
  console_wait "never shown: wait for the end"
  judge "$1" "$2" "$(cat "$work/exit")" "$(screen_all)" "$3" "${4:-}"
  tmux_ kill-session -t "$session" 2>/dev/null
}

console_start "fail $F 4096 4608 ETIME" -q "$M\\f.bin" "$R\\f.bin"
console_end "console: media error, side 1" 11 \
  "error SEM_TIMEOUT - try reading single sectors...|2047 of 2048 sectors successfully read, 1 failed"
console_start "fail $F 0 512 EIO" -q "$R\\f.bin" "$M\\f.bin"
console_end "console: persistent reopenable error, side 2" 11 \
  "error NOT_READY after 10 reopens - try reading single sectors...|2047 of 2048 sectors successfully read, 1 failed"
# A prompt clears its row when answered N and asks again in place, so the screen shows only the
# latest question; what the answers did shows in the ends of the runs.
answer() {  # key: typed again until the run ends (a prompt drops the keys typed before it waits)
  local i
  for ((i = 0; i < 100; i++)); do
    [ -s "$work/exit" ] && return 0
    screen_all | grep -qF -- "abort? (Y/N)" && tmux_ send-keys -t "$session" "$1"
    sleep 0.3
  done
  fail "$session: '$1' was never taken"
}
console_start "fail $F 1048576 1049088 EACCES 1" "$M\\f.bin" "$R\\f.bin"
console_wait "read error ACCESS_DENIED - abort? (Y/N)"
answer n
console_end "console: other error once, answered N" 0 "Files are identical"
console_start "fail $F 1048576 1049088 EACCES" "$R\\f.bin" "$M\\f.bin"
console_wait "read error ACCESS_DENIED - abort? (Y/N)"
answer y
console_end "console: other error on side 2, answered Y" 11 "read error ACCESS_DENIED - abort? (Y/N) Y| aborted"


# Ctrl+C in each phase of a run ends it within its bound, with the incomplete-run exit code.
stop_within() {  # name, lines shown, texts absent, tenths of a second (20): Ctrl+C now, then the end within them
  local i bound=${4:-20}
  tmux_ send-keys -t "$session" C-c
  for ((i = 0; i < bound; i++)); do
    [ -s "$work/exit" ] && break
    sleep 0.1
  done
  [ -s "$work/exit" ] || fail "$1: no end within $bound tenths of a second of Ctrl+C"
  console_end "$1" 11 "$2" "${3:-Files are identical}"
}
console_start "fail $F 0 4194304 EIO" "$M\\f.bin" "$R\\f.bin"
console_wait "Reading sector"
stop_within "console: Ctrl+C while an error that never heals is recovered" "Ctrl+C pressed -> abort"
console_start "fail $F 1048576 1049088 EACCES" "$M\\f.bin" "$R\\f.bin"
console_wait "read error ACCESS_DENIED - abort? (Y/N)"
# At a prompt Ctrl+C answers it with its default: the pair is given up.
stop_within "console: Ctrl+C at a prompt" "read error ACCESS_DENIED - abort? (Y/N)"
mkdir -p "$work/many/t1" "$work/many/t2"
(cd "$work/many/t1" && for i in $(seq 6000); do echo "$i" >"f$i"; done)
cp -r "$work/many/t1/." "$work/many/t2/"
console_start "" "-o:$(winpath "$work/many/list.txt")" "$(winpath "$work/many/t1")" "$(winpath "$work/many/t2")"
console_wait "Comparing f"
stop_within "console: Ctrl+C while pairs are in flight" "Ctrl+C pressed -> abort" "All files identical"
# The stopped run's result list is true as far as it goes: whole lines, each an identical pair or
# one that the stop left uncompared.
[ -s "$work/many/list.txt" ] || fail "a stopped run left no result list"
grep -qvaP '^(= f[0-9]+|! f[0-9]+\tnot compared: the run was stopped)\r$' "$work/many/list.txt" &&
  fail "a stopped run's result list holds other lines"
[ "$(wc -l <"$work/many/list.txt")" -lt 6000 ] || fail "a stopped run's result list is complete"
# Nobody can type at input from NUL: the prompt takes its default answer, shown as if typed.
input='</dev/null'
console_start "fail $F 1048576 1049088 EACCES" "$M\\f.bin" "$R\\f.bin"
console_end "console: input from NUL and a read error" 11 "read error ACCESS_DENIED - abort? (Y/N) Y"
input=

# A stop while the medium holds a call: tree 1's listing, which a helper makes, is given up about a
# second after the stop; a read of the main thread is cut by the deadline two seconds after it. A
# held request answers when its caller goes away (the process ends), which the file system learns
# with a thread per request.
hang_seen() {  # path: true once the file system holds a request for it
  local i
  for ((i = 0; i < 300; i++)); do
    grep -qxF "hang: $1" "$work/fs.err" && return 0
    [ -s "$work/exit" ] && break
    sleep 0.1
  done
  fail "$session: the file system never held a request for $1"
}
unmount
mount_faults threaded
console_start "hang /tree 60" "$M\\tree" "$R\\tree"
hang_seen /tree
stop_within "console: Ctrl+C while tree 1 cannot be listed" "Ctrl+C pressed -> abort" \
  "All files identical|no answer from the system" 30
console_start "hang $F 60" "$M\\f.bin" "$R\\f.bin"
hang_seen $F
stop_within "console: Ctrl+C while a read does not return" \
  "Ctrl+C pressed -> abort|no answer from the system 2 s after the stop -> abort" "Files are identical" 30

echo "fault file system check: $rows rows"
