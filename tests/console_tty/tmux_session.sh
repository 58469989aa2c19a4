# Sourced by the real-console checks: a private tmux server in a scratch folder that goes away with
# the check, and a failure that shows the screen of the session named in $session.
command -v tmux >/dev/null || { echo "FAIL: tmux is not installed"; exit 1; }
work=$(mktemp -d)
tmux_() { tmux -S "$work/tmux.sock" "$@"; }
cleanup() { tmux_ kill-server >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$work/log" ] && { echo "--- log"; cat "$work/log"; }
  echo "--- screen"; tmux_ capture-pane -p -t "$session" 2>/dev/null
  exit 1
}
