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

source scripts/configure.sh
configure windows "$build"
ninja -C "$build" -j "$build_jobs" plugin_wine_tests

export WINEPREFIX="$root/$build/screenshot-wineprefix"
source scripts/wine-prefix.sh
wine_prefix

source scripts/wine-fonts.sh

mkdir -p docs
HALVORN_PANEL_SCREENSHOT="$root/docs/panel.png" xvfb-run -a -s "-screen 0 1280x1024x24" \
  scripts/wine-run "$build/tests/plugin_wine_tests.exe" --gtest_filter='PanelScreenshotTest.*'
wineserver -w
echo "wrote docs/panel.png"
