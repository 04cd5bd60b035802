#!/usr/bin/env bash
# Tries the plug-in end to end without hardware. Installs what is missing
# (scripts/setup.sh), builds what the demo needs (the plug-in, the simulated
# receiver library and the host program in build/windows, the recording
# tools in build/native: the directories scripts/build.sh uses), then runs a
# short session of the host program under Wine and Xvfb: the real DLL on the
# simulated receiver around 7.05 MHz, 250 kS/s chosen and a recording made
# through the plug-in's panel. Everything lands in one folder:
#
#   out/demo-<UTC time>/
#     session.txt          what the host program printed: progress and summary
#     <start time>.wav     the recording (WAV with the receiver's "rcvr" chunk)
#     recording.txt        halvorn-inspect's description of it
#     spectrum.png         halvorn-spectrum's picture of it
#     spectrum.txt         halvorn-spectrum's report, with the strongest peaks
#     panel.png            the panel as the screen showed it mid-recording
#
#   scripts/demo.sh [--lo HZ] [--seconds N]     (defaults 7050000 and 8)
#
# HALVORN_BUILD_JOBS limits the build's parallel jobs (default: all cores);
# HALVORN_BUILD_ROOT puts the two builds elsewhere than build/ (native and
# windows below it); WINEPREFIX, as for scripts/wine-session.sh.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$(pwd)"
build="${HALVORN_BUILD_ROOT:-build}"

lo=7050000
seconds=8
while [ $# -gt 0 ]; do
  case "$1" in
    --lo) lo="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown argument $1 (demo.sh --help)" >&2; exit 2 ;;
  esac
done

echo "== setting up (scripts/setup.sh)"
scripts/setup.sh

echo "== building the plug-in, the simulated receiver, the host program and the tools"
source scripts/configure.sh
configure native "$build/native"
configure windows "$build/windows"
ninja -C "$build/windows" -j "$build_jobs" extio_host windows_package
ninja -C "$build/native" -j "$build_jobs" halvorn-inspect halvorn-spectrum

out="$root/out/demo-$(date -u +%Y%m%dT%H%M%SZ)"
mkdir -p "$out"

source scripts/wine-fonts.sh

echo "== a ${seconds}-second session at LO $lo Hz, 250 kS/s, recording (Wine's first start takes a while)"
# The host program records into its current directory: the output folder.
set +e
(cd "$out" && "$root/scripts/wine-session.sh" wine "$root/$build/windows/extio_host.exe" \
  --lo "$lo" --rate 250k --seconds "$seconds" --record --source scene --panel-picture panel.bmp) 2>&1 |
  tee "$out/session.txt"
status="${PIPESTATUS[0]}"
set -e
if [ "$status" -ne 0 ]; then
  echo "demo.sh: the session failed (extio_host exit status $status); see $out/session.txt" >&2
  exit 1
fi

shopt -s nullglob
recordings=("$out"/*.wav)
if [ "${#recordings[@]}" -eq 0 ]; then
  echo "demo.sh: the session left no recording in $out" >&2
  exit 1
fi
recording="${recordings[0]}"

echo "== the recording, read back"
"$build/native/tools/inspector/halvorn-inspect" "$recording" | tee "$out/recording.txt"
"$build/native/tools/spectrum/halvorn-spectrum" "$recording" -o "$out/spectrum.png" --peaks 8 |
  tee "$out/spectrum.txt"
if [ -f "$out/panel.bmp" ]; then
  convert "$out/panel.bmp" "$out/panel.png"
  rm "$out/panel.bmp"
fi

echo
echo "The demo's output is in $out:"
echo "  $(basename "$recording")  the recording"
echo "  recording.txt  spectrum.png  spectrum.txt  panel.png  session.txt"
