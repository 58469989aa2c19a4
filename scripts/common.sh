# Shared by ./qvb, ./test and ./release: install what is missing, build, and run Windows programs under Wine.
# Sourced, not run. Everything it prints goes to standard error, so ./qvb's standard output is the
# program's alone.

QVB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QVB_BUILD=${QVB_BUILD:-$QVB_ROOT/build}
# fuse3, libfuse3-dev, gcc and pkg-config build and mount the fault file system of the read-error tests.
# python3 packs the release zip; unzip reads it back in its check.
QVB_PACKAGES="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 cmake ninja-build googletest tmux fuse3 libfuse3-dev gcc pkg-config python3 unzip"

qvb_log() { echo "qvb: $*" >&2; }

# Installs the missing packages from Debian's archive; asks apt nothing when all are there.
qvb_install_packages() {
  local missing="" p
  for p in $QVB_PACKAGES; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  qvb_log "installing$missing"
  $sudo apt-get update >&2 || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing >&2 || return 1
}

# Configures once and builds whatever is older than its sources (ninja decides).
qvb_build() {
  local log="$QVB_BUILD/build.log"
  mkdir -p "$QVB_BUILD"
  if [ ! -f "$QVB_BUILD/build.ninja" ]; then
    cmake -S "$QVB_ROOT" -B "$QVB_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$QVB_ROOT/cmake/mingw-w64-x86_64.cmake" >"$log" 2>&1 \
      || { cat "$log" >&2; qvb_log "configuration failed"; return 1; }
  fi
  cmake --build "$QVB_BUILD" "$@" >"$log" 2>&1 || { cat "$log" >&2; qvb_log "build failed"; return 1; }
}

qvb_wine_env() {
  export WINEPREFIX="$QVB_BUILD/wineprefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  mkdir -p "$WINEPREFIX"
}

# A persistent server with Wine's services already started, every stream detached: otherwise the
# services inherit the first program's pipes and hold them open.
qvb_start_wine() {
  qvb_wine_env
  (wineserver -p300 </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1) || true
}

qvb_stop_wine() {
  qvb_wine_env
  wineserver -k >/dev/null 2>&1 || true
}
