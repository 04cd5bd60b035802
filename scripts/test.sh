#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the native suite
# again under AddressSanitizer+UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and the Windows suite through the real DLLs under Wine and
# Xvfb.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$(pwd)"
jobs="$(nproc)"

scripts/build.sh

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j "$jobs"

for sanitizer in address thread; do
  dir="build/native-$sanitizer"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHALVORN_SANITIZE="$sanitizer" >/dev/null
  fi
  ninja -C "$dir"
  echo "== native tests under the $sanitizer sanitizer"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE slow
done

echo "== Windows tests under Wine"
export WINEPREFIX="$root/build/wineprefix"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# One persistent wineserver for the whole run spares each test its start-up.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir build/windows --output-on-failure
