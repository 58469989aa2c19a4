# Sourced by the checks that read through the fault file system: builds it, mounts it over
# $work/src at $work/mnt, and takes it away again in every case. Needs $here (this folder), $scratch
# (where the build of fault_fs is kept) and the tmux session helpers ($work, fail, cleanup).
# Also the row helpers the checks share: set_rules, winpath, judge.

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "mounting the fault file system needs root"
[ -c /dev/fuse ] || skip "/dev/fuse is missing"
command -v fusermount3 >/dev/null || skip "fusermount3 is missing (package fuse3)"
pkg-config --exists fuse3 2>/dev/null || skip "libfuse3 is missing (package libfuse3-dev)"

fs=$scratch/fault_fs
if [ ! -x "$fs" ] || [ "$here/fault_fs.c" -nt "$fs" ]; then
  mkdir -p "$scratch"
  # shellcheck disable=SC2046
  cc -O2 -Wall -o "$fs" "$here/fault_fs.c" $(pkg-config --cflags --libs fuse3) || { echo "FAIL: fault_fs does not build"; exit 1; }
fi

# A run killed outright (a test timeout) cannot unmount: take away what earlier runs left.
awk '$1 == "qvb_fault_fs" { print $2 }' /proc/mounts | while read -r stale; do fusermount3 -u -z "$stale"; done

mnt=$work/mnt
fs_pid=
unmount() {
  if [ -n "$fs_pid" ]; then
    fusermount3 -u -z "$mnt" 2>/dev/null
    kill "$fs_pid" 2>/dev/null
    wait "$fs_pid" 2>/dev/null
  fi
  fs_pid=
}

# Serves $work/src at $mnt with the rules of $work/rules: one request at a time, in the order they
# come, or with "threaded" a thread per request, which a rule that holds a request needs.
mount_faults() {
  local single=-s
  [ "${1:-}" = threaded ] && single=
  mkdir -p "$work/src" "$mnt"
  : >"$work/rules"
  "$fs" "$work/src" "$work/rules" "$mnt" -f $single -o ro,fsname=qvb_fault_fs 2>"$work/fs.err" &
  fs_pid=$!
  local i
  for ((i = 0; i < 50; i++)); do mountpoint -q "$mnt" && break; sleep 0.1; done
  mountpoint -q "$mnt" || { cat "$work/fs.err"; fail "the fault file system did not mount"; }
}

winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

set_rules() {  # rules separated by ';'
  tr ';' '\n' <<<"$1" >"$work/rules.new"
  mv "$work/rules.new" "$work/rules"  # a new file: the file system takes it and starts its counts afresh
}

# Checks a finished run's text against the row; $1 name, $2 wanted exit, $3 got exit, $4 text,
# $5 lines that must appear ('|' between them), $6 texts that must not.
judge() {
  local name=$1 want=$2 got=$3 text=$4 line
  [ "$got" = "$want" ] || { echo "$text" | tail -n 20; echo "FAIL: $name: exit code $got, not $want"; exit 1; }
  IFS='|' read -ra lines <<<"$5"
  for line in "${lines[@]}"; do
    grep -qF -- "$line" <<<"$text" || { echo "$text" | tail -n 20; echo "FAIL: $name: no '$line'"; exit 1; }
  done
  IFS='|' read -ra lines <<<"${6:-}"
  for line in "${lines[@]}"; do
    grep -qF -- "$line" <<<"$text" && { echo "$text" | tail -n 20; echo "FAIL: $name: '$line' shown"; exit 1; }
  done
  if grep -qE 'not read in file|, [1-9][0-9]* failed' <<<"$text"; then
    grep -q 'identical' <<<"$text" && { echo "FAIL: $name: identical with sectors unread"; exit 1; }
    [ "$got" != 0 ] || { echo "FAIL: $name: exit code 0 with sectors unread"; exit 1; }
  fi
  return 0
}

# Redirected: name, exit code, rules, arguments, lines shown, texts absent.
rows=0
row() {
  set_rules "$3"
  local start=$SECONDS got
  timeout 60 wine "$qvb" $4 >"$work/out" 2>"$work/err" </dev/null
  got=$?
  [ $((SECONDS - start)) -le 30 ] || fail "$1: took $((SECONDS - start)) s"
  judge "$1" "$2" "$got" "$(cat "$work/out" "$work/err")" "$5" "${6:-}"
  rows=$((rows + 1))
}
