# shellcheck shell=bash
# Sourced by bench/compare.sh: builds the models of slow media, mounts them, maps them into the
# benchmark's own Wine prefix as drive letters and takes all of it away again, also after a
# failure; a run killed outright leaves mounts behind, and the next start takes those away.
# Needs $slow (the folder that holds the prefix, the mount points and the models' backing
# folders) and $QVB_BUILD (where the models are built).
#   N: the share model, a network drive (DRIVE_REMOTE, as the registry of the prefix says)
#   D: the disk model, a plain fixed drive

models_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
share_delay_ms=${SHARE_DELAY_MS:-2}
disk_seek_ms=${DISK_SEEK_MS:-8}
disk_rate_mbs=${DISK_RATE_MBS:-150}
share_mnt=$slow/mnt/share
disk_mnt=$slow/mnt/disk
model_pids=()

# Prints why the models cannot run here, or nothing.
models_missing() {
  [ "$(id -u)" = 0 ] || { echo "mounting the models needs root"; return; }
  [ -c /dev/fuse ] || { echo "/dev/fuse is missing"; return; }
  command -v fusermount3 >/dev/null || { echo "fusermount3 is missing (package fuse3)"; return; }
  pkg-config --exists fuse3 2>/dev/null || echo "libfuse3 is missing (package libfuse3-dev)"
}

models_build() {
  mkdir -p "$QVB_BUILD/models"
  local m
  for m in share_model disk_model; do
    if [ ! -x "$QVB_BUILD/models/$m" ] || [ "$models_dir/$m.c" -nt "$QVB_BUILD/models/$m" ] ||
       [ "$models_dir/model_fs.h" -nt "$QVB_BUILD/models/$m" ]; then
      # shellcheck disable=SC2046
      cc -O2 -Wall -Wextra -o "$QVB_BUILD/models/$m" "$models_dir/$m.c" $(pkg-config --cflags --libs fuse3) -lpthread
    fi
  done
}

models_wine_env() {
  export WINEPREFIX=$slow/prefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  mkdir -p "$WINEPREFIX"
}

models_start_wine() {
  models_wine_env
  (wineserver -p300 </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1) || true
}

models_stop_wine() {
  (models_wine_env; wineserver -k >/dev/null 2>&1) || true
}

# The mounts of the models under this benchmark's mount folder, from whatever run made them.
models_mounts() {
  awk -v under="$slow/mnt/" '($1 == "qvb_share_model" || $1 == "qvb_disk_model") && index($2, under) == 1 { print $2 }' /proc/mounts
}

models_unmount() {
  models_stop_wine  # no program of the prefix keeps a file of the models open
  local m pid
  for m in $(models_mounts); do fusermount3 -u -z "$m" 2>/dev/null || true; done
  for pid in "${model_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  model_pids=()
}

model_mount() {  # program, backing folder, mount point, model options
  mkdir -p "$2" "$3"
  "$QVB_BUILD/models/$1" "$2" "$3" -f -o "ro,fsname=qvb_$1,max_threads=64,$4" 2>"$slow/$1.err" &
  model_pids+=($!)
  local i
  for ((i = 0; i < 50; i++)); do mountpoint -q "$3" && return 0; sleep 0.1; done
  cat "$slow/$1.err" >&2
  echo "the $1 did not mount at $3" >&2
  return 1
}

# Mounts both models and maps them; the drive type of N: is checked, not assumed: the program
# under test must find it a network drive from what the system tells it.
models_mount_and_map() {
  models_unmount  # what a killed run left
  model_mount share_model "$slow/share" "$share_mnt" "delay_ms=$share_delay_ms" || return 1
  model_mount disk_model "$slow/disk" "$disk_mnt" "seek_ms=$disk_seek_ms,rate_mbs=$disk_rate_mbs" || return 1
  models_start_wine  # a new prefix has its dosdevices folder after this
  ln -sfn "$share_mnt" "$WINEPREFIX/dosdevices/n:"
  ln -sfn "$disk_mnt" "$WINEPREFIX/dosdevices/d:"
  if [ "$(wine "$floor" type 'N:\' | tr -d '\r')" != 4 ]; then
    # The server reads the drive types when it starts.
    wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    models_start_wine
  fi
  local n d
  n=$(wine "$floor" type 'N:\' | tr -d '\r')
  d=$(wine "$floor" type 'D:\' | tr -d '\r')
  echo "drives: N: (share model, ${share_delay_ms} ms a read) GetDriveTypeW $n$([ "$n" = 4 ] && echo ' = DRIVE_REMOTE')," \
    "D: (disk model, ${disk_seek_ms} ms a seek, ${disk_rate_mbs} MB/s) GetDriveTypeW $d$([ "$d" = 3 ] && echo ' = DRIVE_FIXED')"
  [ "$n" = 4 ] || { echo "N: is no network drive for Wine" >&2; return 1; }
}
