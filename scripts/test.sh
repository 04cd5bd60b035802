#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the native suite
# again under AddressSanitizer+UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and the Windows suite through the real DLLs under Wine and
# Xvfb.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
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
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done

echo "== Windows tests under Wine"
scripts/wine-session.sh ctest --test-dir build/windows --output-on-failure
