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
# Then the slow media, FUSE models (bench/models/) mapped into a Wine prefix of the benchmark's own
# as drive letters, where what counts is how many reads wait on the medium at once and how often a
# disk's head moves:
#   (d) share model (N:, a network drive, each read answered 2 ms later): a tree of 2,000 files of
#       4 KiB, tree 2 on the share, against the floor with 8 threads taking folders;
#   (e) the same share: one 256 MiB pair, file 2 on the share, against the floor with 4 reads in
#       flight a side;
#   (f) disk model (D:, one head, 8 ms a seek, 150 MB/s): two 128 MiB files on it, against the
#       model's limit (every byte once without a seek) and the floor that reads one file whole,
#       then the other.
# Usage: bench/compare.sh [DATA_DIR] [tree|slow]   (default /tmp/qvb-bench; about 2.3 GB of data is
# kept there, and 0.8 GB more under DATA_DIR/slow; "tree" runs case (c) alone, "slow" (d) to (f))
#        bench/compare.sh DATA_DIR sums [RUNS]
#   the SHA-256 sums, in turns (RUNS each, default 3): (g) -h on the 1 GiB pair against the plain
#   comparison and a -c check of file 1 alone; (h) -c of the 1 GiB file against sha256sum -c;
#   (i) -c of the 10,000-file tree against its plain comparison; and peak memory with and without -h.
#        bench/compare.sh DATA_DIR turns OTHER_QVB_EXE [RUNS]
#   times this build against another qvb.exe (an earlier commit's) on (a), (c), (d), (e) and (f),
#   the two taking turns run by run (RUNS each, default 10; (a) with the floor as a third), and
#   prints the means, their ratio, and for (a) each one's peak memory: a change is judged against
#   the code before it under the same load, not against figures of another hour.
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"
qvb_install_packages >&2
qvb_build --target qvb floor
qvb_start_wine
data=${1:-/tmp/qvb-bench}
mkdir -p "$data"
exe="$QVB_BUILD/qvb.exe"
floor="$QVB_BUILD/floor.exe"
slow=$data/slow
. "$(dirname "$0")/models/mounts.sh"
# Whatever ends the run, nothing stays mounted: the exit trap runs after a signal too.
trap 'models_unmount; qvb_stop_wine' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

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
  # The result list: a line per pair, written as the run goes. Its cost is a few percent, less than
  # this machine drifts in a minute, so runs with and without it take turns, five each.
  local i without=0 with=0
  for i in 1 2 3 4 5; do
    without=$(awk -v a="$without" -v b="$(seconds sh -c "wine '$exe' -n -q '$data/tree1' '$data/tree2' >/dev/null 2>&1")" 'BEGIN { print a + b }')
    with=$(awk -v a="$with" -v b="$(seconds sh -c "wine '$exe' -n -q -o:'$(winpath "$data/list.txt")' '$data/tree1' '$data/tree2' >/dev/null 2>&1")" 'BEGIN { print a + b }')
  done
  printf '    %-40s qvb %7.3f s   with/without %5.2f (mean of 5 runs each, in turns)\n' "with the result list (-o)" \
    "$(awk -v w="$with" 'BEGIN { print w / 5 }')" "$(awk -v w="$with" -v o="$without" 'BEGIN { print w / o }')"
}

slow_data() {
  mkdir -p "$slow/local" "$slow/share" "$slow/disk"
  if [ ! -f "$slow/share/tree2/d19/f99" ]; then
    rm -rf "$slow/local/tree1" "$slow/share/tree2"
    local d f
    for d in $(seq 0 19); do
      mkdir -p "$slow/local/tree1/d$d"
      for f in $(seq 0 99); do head -c 4096 /dev/urandom >"$slow/local/tree1/d$d/f$f"; done
    done
    cp -r "$slow/local/tree1" "$slow/share/tree2"
  fi
  if [ ! -f "$slow/share/p256" ] || [ "$(stat -c %s "$slow/share/p256")" -ne 268435456 ]; then
    head -c 268435456 /dev/urandom >"$slow/local/p256"
    cp "$slow/local/p256" "$slow/share/p256"
  fi
  if [ ! -f "$slow/disk/d2" ] || [ "$(stat -c %s "$slow/disk/d2")" -ne 134217728 ]; then
    head -c 134217728 /dev/urandom >"$slow/disk/d1"
    cp "$slow/disk/d1" "$slow/disk/d2"
  fi
  # The backing files in the page cache: only the model's waits are the medium.
  cat "$slow"/local/tree1/*/* "$slow"/share/tree2/*/* "$slow"/local/p256 "$slow"/share/p256 "$slow"/disk/d1 \
    "$slow"/disk/d2 >/dev/null
}

qvb_report() {  # name, qvb seconds
  printf '%-58s qvb %7.3f s\n' "$1" "$2"
}

# The peak resident memory of one more run of "$@", in MiB: buffers in flight, threads' stacks and
# Wine's own mappings, which the floor's figure shows alone.
peak_report() {  # what ran, command...
  local what=$1 file=$slow/peak
  shift
  [ -x /usr/bin/time ] || { echo "    peak memory not measured: /usr/bin/time is missing"; return; }
  /usr/bin/time -o "$file" -f %M "$@" >/dev/null 2>&1 || true
  printf '    %-40s peak %5.0f MiB\n' "$what" "$(awk '{ m = $1 } END { print m / 1024 }' "$file")"
}

reference_report() {  # name, qvb seconds, reference seconds, what the reference is
  printf '    %-40s %-5s %7.3f s   qvb/%s %5.2f\n' "$1" "$4" "$3" "$4" "$(awk -v q="$2" -v f="$3" 'BEGIN { print q / f }')"
}

slow_cases() {
  local missing
  missing=$(models_missing)
  if [ -n "$missing" ]; then
    echo "slow media (d) to (f) skipped: $missing"
    return 1
  fi
  # Called where a failure must not end the whole run: each step says itself whether it worked.
  slow_data || return 1
  models_build || return 1
  models_mount_and_map || return 1
  local t1 p1 q f
  t1=$(winpath "$slow/local/tree1")
  p1=$(winpath "$slow/local/p256")

  q=$(best sh -c "wine '$exe' -n -q '$t1' 'N:\\tree2' >/dev/null 2>&1")
  qvb_report "(d) share: 2,000 files of 4 KiB in 20 folders, tree 2 on N:" "$q"
  peak_report "qvb" wine "$exe" -n -q "$t1" 'N:\tree2'
  f=$(best sh -c "wine '$floor' tree '$t1' 'N:\\tree2' 8 >/dev/null 2>&1")
  reference_report "8 threads taking folders" "$q" "$f" floor
  f=$(best sh -c "wine '$floor' tree '$t1' 'N:\\tree2' 1 >/dev/null 2>&1")
  reference_report "one thread" "$q" "$f" floor

  q=$(best sh -c "wine '$exe' -n '$p1' 'N:\\p256' >/dev/null 2>&1")
  qvb_report "(e) share: one 256 MiB pair, file 2 on N:" "$q"
  peak_report "qvb" wine "$exe" -n "$p1" 'N:\p256'
  peak_report "floor, 4 reads in flight a side" wine "$floor" pair "$p1" 'N:\p256' 4
  f=$(best sh -c "wine '$floor' pair '$p1' 'N:\\p256' 4 >/dev/null 2>&1")
  reference_report "4 reads in flight a side" "$q" "$f" floor
  f=$(best sh -c "wine '$floor' pair '$p1' 'N:\\p256' >/dev/null 2>&1")
  reference_report "one read at a time" "$q" "$f" floor

  q=$(best sh -c "wine '$exe' -n 'D:\\d1' 'D:\\d2' >/dev/null 2>&1")
  qvb_report "(f) disk: two 128 MiB files on D:" "$q"
  peak_report "qvb" wine "$exe" -n 'D:\d1' 'D:\d2'
  local bytes=$((2 * 134217728))
  f=$(awk -v b="$bytes" -v r="$disk_rate_mbs" 'BEGIN { printf "%.3f", b / (r * 1e6) }')
  reference_report "limit: every byte once, no seek" "$q" "$f" limit
  f=$(best sh -c "wine '$floor' read 'D:\\d1' 'D:\\d2' >/dev/null 2>&1")
  reference_report "one file whole, then the other" "$q" "$f" floor
  models_unmount
}

# The mean wall time of each command over RUNS runs, the commands taking turns run by run.
in_turns() {  # name, runs, command per contender... (each run through sh -c)
  local name=$1 runs=$2 i k
  shift 2
  local -a sums=()
  for ((k = 0; k < $#; ++k)); do sums[k]=0; done
  for ((i = 0; i < runs; ++i)); do
    k=0
    for cmd in "$@"; do
      sums[k]=$(awk -v a="${sums[k]}" -v b="$(seconds sh -c "$cmd >/dev/null 2>&1")" 'BEGIN { print a + b }')
      k=$((k + 1))
    done
  done
  printf '%-44s' "$name"
  for ((k = 0; k < $#; ++k)); do printf ' %7.3f s' "$(awk -v s="${sums[k]}" -v n="$runs" 'BEGIN { print s / n }')"; done
  printf '   1st/2nd %5.2f' "$(awk -v a="${sums[0]}" -v b="${sums[1]}" 'BEGIN { print a / b }')"
  [ $# -gt 2 ] && printf '   1st/3rd %5.2f' "$(awk -v a="${sums[0]}" -v b="${sums[2]}" 'BEGIN { print a / b }')"
  echo
}

# The 1 GiB pair and the trees made and in the page cache; a and b name the pair for Wine.
warm_pair_and_trees() {
  mkdir -p "$slow"
  make_data
  make_trees
  cat "$data"/a1g "$data"/b1g "$data"/tree1/*/* "$data"/tree2/*/* >/dev/null
  a=$(winpath "$data/a1g")
  b=$(winpath "$data/b1g")
}

turns_cases() {  # the other qvb.exe, runs
  local other=$1 runs=$2 a b
  warm_pair_and_trees
  echo "means of $runs runs in turns: this build, the other, (the floor)"
  in_turns "(a) identical 1 GiB files" "$runs" "wine '$exe' -n '$a' '$b'" "wine '$other' -n '$a' '$b'" \
    "wine '$floor' pair '$a' '$b'"
  peak_report "this build, peak" wine "$exe" -n "$a" "$b"
  peak_report "the other, peak" wine "$other" -n "$a" "$b"
  peak_report "the floor, peak" wine "$floor" pair "$a" "$b"
  in_turns "(c) 10,000 files of 4 KiB" "$runs" "wine '$exe' -n -q '$data/tree1' '$data/tree2'" \
    "wine '$other' -n -q '$data/tree1' '$data/tree2'"
  [ -z "$(models_missing)" ] && slow_data && models_build && models_mount_and_map || {
    echo "slow media (d) to (f) skipped"
    return 0
  }
  local t1 p1
  t1=$(winpath "$slow/local/tree1")
  p1=$(winpath "$slow/local/p256")
  in_turns "(d) share: 2,000 files, tree 2 on N:" "$runs" "wine '$exe' -n -q '$t1' 'N:\\tree2'" \
    "wine '$other' -n -q '$t1' 'N:\\tree2'"
  in_turns "(e) share: 256 MiB pair, file 2 on N:" "$runs" "wine '$exe' -n '$p1' 'N:\\p256'" \
    "wine '$other' -n '$p1' 'N:\\p256'"
  in_turns "(f) disk: two 128 MiB files on D:" "$runs" "wine '$exe' -n 'D:\\d1' 'D:\\d2'" \
    "wine '$other' -n 'D:\\d1' 'D:\\d2'"
  models_unmount
}

sums_cases() {  # runs
  local runs=$1 a b s
  warm_pair_and_trees
  s=$(winpath "$data/sums")
  (cd "$data" && sha256sum a1g >sums.a1g)
  wine "$exe" -n -q -h:"$s.tree" "$data/tree1" "$data/tree2" >/dev/null 2>&1
  echo "means of $runs runs in turns (under Wine the hash is Wine's portable C)"
  in_turns "(g) 1 GiB pair: -h, plain, -c of file 1" "$runs" "wine '$exe' -n -h:'$s.h' '$a' '$b'" \
    "wine '$exe' -n '$a' '$b'" "wine '$exe' -n -c:'$s.a1g' '$a'"
  in_turns "(h) 1 GiB file: -c, sha256sum -c" "$runs" "wine '$exe' -n -q -c:'$s.a1g' '$a'" \
    "cd '$data' && sha256sum -c --quiet sums.a1g"
  in_turns "(i) 10,000 files: -c, plain comparison" "$runs" "wine '$exe' -n -q -c:'$s.tree' '$data/tree1'" \
    "wine '$exe' -n -q '$data/tree1' '$data/tree2'"
  peak_report "(g) with -h, peak" wine "$exe" -n -h:"$s.h" "$a" "$b"
  peak_report "(g) without, peak" wine "$exe" -n "$a" "$b"
}

if [ "${2:-}" = sums ]; then
  sums_cases "${3:-3}"
  exit
fi

if [ "${2:-}" = turns ]; then
  turns_cases "$3" "${4:-10}"
  exit
fi

if [ "${2:-}" = slow ]; then
  slow_cases
  exit
fi

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
slow_cases || true
