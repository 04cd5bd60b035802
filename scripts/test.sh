#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the native suite
# again under AddressSanitizer+UndefinedBehaviorSanitizer (preset asan) and
# under ThreadSanitizer (preset tsan), and the Windows suite through the real
# DLLs under Wine and Xvfb. HALVORN_BUILD_JOBS limits the builds' jobs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/configure.sh
jobs="$(nproc)"

scripts/build.sh

echo "== native tests"
ctest --preset native -j "$jobs"

for preset in asan tsan; do
  configure "$preset"
  cmake --build --preset "$preset" -j "$build_jobs"
  echo "== native tests, $preset build"
  ctest --preset "$preset" -j "$jobs"
done

echo "== Windows tests under Wine"
scripts/wine-session.sh ctest --preset windows
