# Shared by ./release and the reproducibility check: the version, the time the zip's entries carry,
# and the packaging of a built qvb.exe. Sourced after common.sh, not run.

# The version as CMake read it from project(qvb VERSION ...), the one place it is written.
qvb_version() {  # BUILD_DIR
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

# The time of the commit built, so that one commit gives one zip whenever it is packed. A tree that
# is no clone of its own has no commit: SOURCE_DATE_EPOCH then, or the earliest time a zip can hold.
qvb_source_epoch() {
  local top
  top=$(git -C "$QVB_ROOT" rev-parse --show-toplevel 2>/dev/null)
  if [ -n "$top" ] && [ "$(cd "$top" && pwd -P)" = "$(cd "$QVB_ROOT" && pwd -P)" ]; then
    git -C "$QVB_ROOT" log -1 --format=%ct
  else
    echo "${SOURCE_DATE_EPOCH:-315532800}"
  fi
}

# Writes OUT_DIR/qvb-VERSION-win64.zip and its .sha256 and prints the zip's path.
qvb_package() {  # BUILD_DIR OUT_DIR EPOCH
  local version
  version=$(qvb_version "$1")
  [ -n "$version" ] || { qvb_log "no project version in $1/CMakeCache.txt"; return 1; }
  python3 "$QVB_ROOT/scripts/package.py" --exe "$1/qvb.exe" --readme "$QVB_ROOT/README.md" \
    --version "$version" --epoch "$3" --out "$2"
}
