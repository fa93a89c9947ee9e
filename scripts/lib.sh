# Shared by the scripts of scripts/ and bench/ and by the Wine environment of the tests: building a
# preset with the same defaults everywhere, a display for windows, Windows paths. Sourced, never run.

fernquill_lib_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Jobs of every build: FERNQUILL_BUILD_JOBS, or one per core.
fernquill_build_jobs() {
  printf '%s' "${FERNQUILL_BUILD_JOBS:-$(nproc)}"
}

# Configures a preset of CMakePresets.json (mingw, mingw-release); a tree configured before keeps its
# cache, the test server's fixed port among it. Only errors are shown.
fernquill_configure_preset() {
  (cd "$fernquill_lib_root" && cmake --preset "$1" >/dev/null)
}

# Builds the named targets (all when none) of a configured build tree.
fernquill_build_tree() {
  local tree="$1"
  shift
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --build "$tree" -j "$(fernquill_build_jobs)" "${targets[@]}"
}

# Configures a preset and builds the named targets of it (all when none).
fernquill_build_preset() {
  local preset="$1"
  shift
  fernquill_configure_preset "$preset" && fernquill_build_tree "$fernquill_lib_root/build/$preset" "$@"
}

# Runs a command on the caller's display, or on a private Xvfb when DISPLAY is not set.
fernquill_with_display() {
  if [ -n "${DISPLAY:-}" ]; then
    "$@"
    return
  fi
  command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (scripts/install-deps.sh)" >&2; return 1; }
  xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
}

# A Linux path as Wine's Z: drive shows it to Windows programs.
fernquill_windows_path() {
  printf 'Z:%s' "$1" | tr '/' '\\'
}
