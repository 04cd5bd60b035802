# Sourced by the scripts that build: configures a build directory once, from
# a preset of CMakePresets.json, and says how many jobs a build may run
# (HALVORN_BUILD_JOBS, default all cores).
#   configure <preset> [build-dir]    native, windows, asan or tsan; the
#                                     directory defaults to the preset's own
build_jobs="${HALVORN_BUILD_JOBS:-$(nproc)}"

configure() {
  local preset="$1" dir="${2:-}"
  if [ -z "$dir" ]; then
    case "$preset" in
      native) dir=build/native ;;
      windows) dir=build/windows ;;
      asan) dir=build/native-address ;;
      tsan) dir=build/native-thread ;;
      *) echo "configure: no preset $preset" >&2; return 1 ;;
    esac
  fi
  if [ ! -f "$dir/build.ninja" ]; then
    cmake --preset "$preset" -B "$dir" >/dev/null
  fi
}
