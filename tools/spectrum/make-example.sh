#!/usr/bin/env bash
# Regenerates docs/spectrum-example.png: eight seconds of the simulated
# receiver's scene around 7.05 MHz at 250 kS/s, recorded through the plug-in's
# core by the tools' scene test and drawn by halvorn-spectrum.
#
#   tools/spectrum/make-example.sh [NATIVE-BUILD-DIRECTORY]   (default build/native)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build/native}"
ninja -C "$build" -j2 tools_tests halvorn-spectrum
mkdir -p "$root/docs"
HALVORN_SPECTRUM_EXAMPLE="$root/docs/spectrum-example.png" \
  "$build/tests/unit/tools_tests" --gtest_filter='SceneRecordingTest.*'
echo "wrote $root/docs/spectrum-example.png"
