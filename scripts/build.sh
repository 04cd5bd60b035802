#!/usr/bin/env bash
# Builds the native core with its tests and tools (build/native) and the
# Windows plug-in, simulated receiver library and Windows programs
# (build/windows). The two DLLs end up at build/windows/ExtIO_halvorn.dll and
# build/windows/halvornusb.dll. HALVORN_BUILD_JOBS limits the parallel jobs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/configure.sh

configure native
configure windows
ninja -C build/native -j "$build_jobs"
ninja -C build/windows -j "$build_jobs"
