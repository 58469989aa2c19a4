#!/usr/bin/env bash
# Times qvb.exe under Wine against cmp from diffutils on the same data, in one run:
#   (a) two identical files of 1 GiB;
#   (b) two 64 MiB files that differ in one byte of every 64, every listed difference written to
#       a file (qvb's listing against cmp -l);
#   (c) two identical trees of 10,000 files of 4 KiB in 100 folders (qvb against diff -rq).
# Prints each time and the ratio of the peer to qvb (above 1: qvb is faster). Beside (a) and (c) it
# times the Win32 floor (bench/floor.cpp under the same Wine: the calls that any program must make
# for the same comparison) and prints qvb's time as a multiple of it; (c) has a one-thread and a
# two-thread floor. Not a test: nothing is asserted.
# Usage: bench/compare.sh [DATA_DIR] [tree]   (default /tmp/qvb-bench; about 2.3 GB of data is kept
# there; "tree" runs case (c) alone)
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"
qvb_install_packages >&2
qvb_build --target qvb floor
qvb_start_wine
trap qvb_stop_wine EXIT
data=${1:-/tmp/qvb-bench}
mkdir -p "$data"
exe="$QVB_BUILD/qvb.exe"
floor="$QVB_BUILD/floor.exe"

make_data() {
  if [ ! -f "$data/a1g" ] || [ "$(stat -c %s "$data/a1g")" -ne 1073741824 ]; then
    head -c 1073741824 /dev/urandom >"$data/a1g"
    cp "$data/a1g" "$data/b1g"
  fi
  if [ ! -f "$data/b64m" ]; then
    head -c 67108864 /dev/urandom >"$data/a64m"
    python3 - "$data/a64m" "$data/b64m" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[63::64] = bytes(b ^ 0xFF for b in data[63::64])
open(sys.argv[2], 'wb').write(data)
PY
  fi
}

seconds() {  # runs "$@" and prints its wall time in seconds; the exit code is ignored
  local start end
  start=$(date +%s.%N)
  "$@" || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }' 
}

floor_report() {  # name, qvb seconds, floor seconds
  printf '    %-40s floor %7.3f s   qvb/floor %5.2f\n' "$1" "$3" "$(awk -v q="$2" -v f="$3" 'BEGIN { print q / f }')"
}

winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

report() {  # name, qvb seconds, cmp seconds
  printf '%-44s qvb %7.3f s   cmp %7.3f s   cmp/qvb %5.2f\n' "$1" "$2" "$3" "$(awk -v q="$2" -v c="$3" 'BEGIN { print c / q }')"
}

make_trees() {
  [ -f "$data/tree2/d99/f99" ] && return 0
  rm -rf "$data/tree1" "$data/tree2"
  local d f
  for d in $(seq 0 99); do
    mkdir -p "$data/tree1/d$d"
    for f in $(seq 0 99); do head -c 4096 /dev/urandom >"$data/tree1/d$d/f$f"; done
  done
  cp -r "$data/tree1" "$data/tree2"
}

# Best of three each, to keep the noise of a shared machine out.
best() {
  local b="" t
  for _ in 1 2 3; do
    t=$(seconds "$@")
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  echo "$b"
}

tree_case() {
  make_trees
  cat "$data"/tree1/*/* "$data"/tree2/*/* >/dev/null
  q=$(best sh -c "wine '$exe' -n -q '$data/tree1' '$data/tree2' >/dev/null 2>&1")
  c=$(best sh -c "diff -rq '$data/tree1' '$data/tree2' >/dev/null 2>&1")
  report "(c) 10,000 files of 4 KiB in 100 folders" "$q" "$c" | sed 's/cmp /diff/; s/cmp\/qvb/diff\/qvb/'
  local t1 t2
  t1=$(winpath "$data/tree1")
  t2=$(winpath "$data/tree2")
  f=$(best sh -c "wine '$floor' tree '$t1' '$t2' 1 >/dev/null 2>&1")
  floor_report "one thread" "$q" "$f"
  f=$(best sh -c "wine '$floor' tree '$t1' '$t2' 2 >/dev/null 2>&1")
  floor_report "two threads" "$q" "$f"
  # The result list: a line per pair, written as the run goes.
  local o
  o=$(best sh -c "wine '$exe' -n -q -o:'$(winpath "$data/list.txt")' '$data/tree1' '$data/tree2' >/dev/null 2>&1")
  printf '    %-40s qvb %7.3f s   with/without %5.2f\n' "with the result list (-o)" "$o" \
    "$(awk -v o="$o" -v q="$q" 'BEGIN { print o / q }')"
}

if [ "${2:-}" = tree ]; then
  tree_case
  exit 0
fi

make_data
cat "$data"/a1g "$data"/b1g "$data"/a64m "$data"/b64m >/dev/null  # warm the page cache

q=$(best sh -c "wine '$exe' -n '$data/a1g' '$data/b1g' >/dev/null 2>&1")
c=$(best sh -c "cmp '$data/a1g' '$data/b1g' >/dev/null 2>&1")
report "(a) identical 1 GiB files" "$q" "$c"
f=$(best sh -c "wine '$floor' pair '$(winpath "$data/a1g")' '$(winpath "$data/b1g")' >/dev/null 2>&1")
floor_report "one thread" "$q" "$f"

q=$(best sh -c "wine '$exe' -n '$data/a64m' '$data/b64m' >'$data/qvb.out' 2>&1")
c=$(best sh -c "cmp -l '$data/a64m' '$data/b64m' >'$data/cmp.out' 2>&1")
report "(b) 64 MiB, 1 byte in 64 differs, listed" "$q" "$c"
printf '    lines listed: qvb %s, cmp -l %s\n' "$(grep -c ': ' "$data/qvb.out" || true)" "$(wc -l <"$data/cmp.out")"
tree_case
