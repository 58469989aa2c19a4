#!/usr/bin/env bash
# The console behaviour that only a real console shows, under Wine inside tmux (which provides the
# terminal, also where the test itself has none): a status text written in place appears on the
# screen, Ctrl+C reaches the control handler while the main thread works the heap and its message
# lands on a fresh line, and a prompt is answered by a key pressed while it waits, not by one typed
# before. Every wait has a time-out.
# Usage: check_tty.sh PROBE_EXE
set -uo pipefail
probe=$1
session=probe
. "$(dirname "$0")/tmux_session.sh"

# Waits up to 30 s for a line of the probe's log that matches the pattern.
wait_log() {
  local i
  for ((i = 0; i < 300; i++)); do
    grep -q -- "$1" "$work/log" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the probe never logged '$1'"
}

screen() { tmux_ capture-pane -p -t probe | sed 's/[[:space:]]*$//'; }

env_vars="WINEPREFIX=${WINEPREFIX:-} WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES='${WINEDLLOVERRIDES:-}'"
tmux_ -f /dev/null new-session -d -s probe -x 100 -y 30 \
  "env $env_vars wine '$probe' 'Z:$work/log' 'Z:$work'; echo \$? >'$work/exit'; sleep 120" \
  || fail "tmux could not start a session"

# The status text, written straight into the screen buffer, without moving the cursor.
wait_log '^busy'
grep -q '^status column=0 row=1$' "$work/log" || fail "the cursor moved: $(grep '^status' "$work/log")"
for ((i = 0; i < 50; i++)); do
  screen | grep -qx ' 5 MB of 10 MB compared (12 MB/s)' && break
  sleep 0.1
done
screen | grep -qx ' 5 MB of 10 MB compared (12 MB/s)' || fail "the status text is not on the screen"

# Ctrl+C while the main thread allocates in a loop.
tmux_ send-keys -t probe C-c
wait_log '^handled'
grep -q '^handled abort=1 interrupt=0 event=0$' "$work/log" || fail "Ctrl+C did not reach the handler"
for ((i = 0; i < 50; i++)); do
  screen | grep -A1 -x ' 5 MB of 10 MB compared (12 MB/s)' | grep -qx 'Ctrl+C pressed -> abort' && break
  sleep 0.1
done
screen | grep -A1 -x ' 5 MB of 10 MB compared (12 MB/s)' | grep -qx 'Ctrl+C pressed -> abort' \
  || fail "the Ctrl+C message is not on the line below the status text"

# A y typed before the question must not answer it; an n pressed while it waits does.
tmux_ send-keys -t probe y
sleep 1
touch "$work/typed"
wait_log '^prompt'
for ((i = 0; i < 60; i++)); do
  grep -q '^answer=' "$work/log" && break
  tmux_ send-keys -t probe n
  sleep 0.5
done
wait_log '^done'
grep -q '^answer=N$' "$work/log" || fail "the prompt answered $(grep '^answer=' "$work/log")"
screen | grep -qx 'abort? (Y/N) N' || fail "the answer is not echoed behind the question"

for ((i = 0; i < 100; i++)); do [ -s "$work/exit" ] && break; sleep 0.1; done
[ "$(cat "$work/exit" 2>/dev/null)" = 0 ] || fail "the probe ended with $(cat "$work/exit" 2>/dev/null)"
echo "console check: status line, Ctrl+C and prompt work in a real console"
