#!/usr/bin/env bash
# Runs every benchmark of the project and prints its figures, each as a ratio
# against a baseline measured in the same run (see BENCHMARKS.md):
#   native: streaming_bench (against memcpy), recorder_bench (against a plain
#           write and memcpy), the simulator's scene cost (against real time);
#   Wine:   stream_bench through the real DLL (against real time), what load
#           cycles leave in the host process (load_cycle_bench, against a
#           trivial DLL linked as the simulator is), and what
#           recording adds to the whole host process at 2 MS/s and 1 MS/s
#           (against a plain paced write of the same bytes, each the
#           difference from the same process without it, bench/recording_cost.sh).
# Run it on an otherwise idle machine; `--quick` for shorter Wine runs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/build.sh >/dev/null

echo "== streaming (native)"
build/native/bench/streaming_bench
echo
echo "== recorder (native)"
build/native/bench/recorder_bench
echo
echo "== simulated scene (native)"
build/native/simulator/halvornsim_scene_timing
echo
echo "== stream through the real DLL (Wine)"
(cd build/windows && ../../scripts/wine-session.sh wine stream_bench.exe "$@")
echo
echo "== what load cycles leave in the host process (Wine)"
scripts/wine-session.sh scripts/wine-run build/windows/load_cycle_bench.exe --cycles 400
echo
echo "== what recording adds to the host process (Wine)"
bench/recording_cost.sh 2M 20 5
bench/recording_cost.sh 1M 20 5
