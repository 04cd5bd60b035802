#!/usr/bin/env bash
# Takes the picture of the control panel that the README shows,
# docs/panel.png: builds the Windows test program, then runs its screenshot
# test under Xvfb in a Wine prefix of its own. The test loads the real DLL,
# opens the receiver on the simulated library, cuts the frame's rectangle out
# of the X screen and checks that the picture has the frame's size.
#
#   scripts/panel-screenshot.sh            (build directory build/windows)
#   BUILD_DIR=build-x/windows scripts/panel-screenshot.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$(pwd)"
build="${BUILD_DIR:-build/windows}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" plugin_wine_tests

export WINEPREFIX="$root/$build/screenshot-wineprefix"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi

source scripts/wine-fonts.sh

mkdir -p docs
HALVORN_PANEL_SCREENSHOT="$root/docs/panel.png" xvfb-run -a -s "-screen 0 1280x1024x24" \
  scripts/wine-run "$build/tests/plugin_wine_tests.exe" --gtest_filter='PanelScreenshotTest.*'
wineserver -w
echo "wrote docs/panel.png"
