#!/usr/bin/env bash
# Builds the native core with its tests and tools (build/native) and the
# Windows plug-in, simulated receiver library and Windows programs
# (build/windows). The two DLLs end up at build/windows/ExtIO_halvorn.dll and
# build/windows/halvornusb.dll.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

configure() {  # build-dir extra-cmake-args...
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
}

configure build/native
configure build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
ninja -C build/native
ninja -C build/windows
