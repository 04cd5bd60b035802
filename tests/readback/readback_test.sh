#!/usr/bin/env bash
# Has the real DLL record under Wine, keeping the recordings and the blocks
# the host received (HALVORN_READBACK_DIR), then reads them back natively with
# libsndfile and sox (readback_check).
#   readback_test.sh <wine-run> <plugin_wine_tests.exe> <readback_check> <output directory>
set -euo pipefail
wine_run="$1" tests="$2" check="$3" out="$4"
case "$out" in /*) ;; *) echo "the output directory must be absolute: $out" >&2; exit 2 ;; esac

rm -rf "$out"
mkdir -p "$out"
# Wine's drive Z: is the Unix root.
windows_out="Z:${out//\//\\}"
HALVORN_READBACK_DIR="$windows_out" "$wine_run" "$tests" --gtest_filter='RecorderReadbackTest.*'
"$check" "$out"
