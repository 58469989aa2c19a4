#!/usr/bin/env bash
# qvb.exe in a real console under Wine inside tmux: the progress of a long comparison is written in
# place on one line, Ctrl+C stops it with its message on a fresh line and the incomplete-run exit
# code, and a comparison that completes ends with its verdict and an empty line. The null device
# on both sides makes a comparison as long as -fi asks without any data on disk.
# Usage: check_run.sh QVB_EXE
set -uo pipefail
qvb=$1
session=run
. "$(dirname "$0")/tmux_session.sh"
screen() { tmux_ capture-pane -p -t "$session" | sed 's/[[:space:]]*$//'; }
wait_screen() {  # pattern, tenths of a second
  local i
  for ((i = 0; i < $2; i++)); do
    screen | grep -qE -- "$1" && return 0
    sleep 0.1
  done
  return 1
}
start() {  # session arguments...
  rm -f "$work/exit"
  # A new session of its own each time: killing the last one ends the tmux server, and a session
  # started at that moment meets a server on its way out.
  runs=$((${runs:-0} + 1))
  session=run$runs
  local env_vars="WINEPREFIX=${WINEPREFIX:-} WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES='${WINEDLLOVERRIDES:-}'"
  tmux_ -f /dev/null new-session -d -s "$session" -x 100 -y 30 \
    "env $env_vars wine '$qvb' $*; echo \$? >'$work/exit'; sleep 120" || fail "tmux could not start a session"
}
wait_exit() {
  local i
  for ((i = 0; i < 600; i++)); do [ -s "$work/exit" ] && return 0; sleep 0.1; done
  fail "qvb did not end"
}

start -n -fi:2000Gi NUL NUL
wait_screen '^ [0-9]+ MB of 2048000 MB compared \(.*/s\)$' 300 || fail "no progress line"
sleep 0.5
[ "$(screen | grep -cE ' MB of 2048000 MB compared')" = 1 ] || fail "the progress scrolled instead of staying on one line"
tmux_ send-keys -t "$session" C-c
for ((i = 0; i < 20; i++)); do [ -s "$work/exit" ] && break; sleep 0.1; done
[ -s "$work/exit" ] || fail "no end within 2 s of Ctrl+C"
[ "$(cat "$work/exit")" = 11 ] || fail "a stopped run ended with exit code $(cat "$work/exit"), not 11"
screen | grep -qx 'Ctrl+C pressed -> abort' || fail "no Ctrl+C message on a line of its own"
screen | grep -q 'Files are identical' && fail "a stopped run was called identical"

start -n -fi:2Gi NUL NUL
wait_exit
[ "$(cat "$work/exit")" = 0 ] || fail "a complete run ended with exit code $(cat "$work/exit")"
screen | grep -qx 'Files are identical' || fail "no verdict"
screen | grep -A1 -E '^Files compared with .*/s$' | tail -n 1 | grep -qx '' || fail "no empty line closes the pair"
screen | grep -q ' MB compared' && fail "the progress line was not cleared"
echo "console run check: progress in place, Ctrl+C, verdict"
