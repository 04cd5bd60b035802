#!/usr/bin/env bash
# The soak: the real plug-in DLL under Wine streams 2 MS/s of the simulated
# receiver's counting pattern in real time while it records, with the
# machine's other core kept busy by a native busy loop. It reports the blocks
# the host lost (must be 0), whether the recording is byte for byte the
# 16-bit form of the counting pairs, and the plug-in's CPU time as a share of
# one core (how it is measured: tests/soak/soak_main.cpp).
#   scripts/soak.sh [seconds]             600 when not given; builds the soak
#                                         program in build/windows first
#   scripts/soak.sh --in-session ...      inside a Wine session already running
#                                         (ctest under scripts/wine-session.sh)
#   scripts/soak.sh --program <exe> ...   the soak program of another build
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

in_session=0
program=""
while [ $# -gt 0 ]; do
  case "$1" in
    --in-session) in_session=1; shift ;;
    --program) program="$2"; shift 2 ;;
    *) break ;;
  esac
done
seconds="${1:-600}"

if [ -z "$program" ]; then
  if [ ! -f "$here/build/windows/build.ninja" ]; then
    echo "soak: no Windows build; run scripts/build.sh first" >&2
    exit 2
  fi
  ninja -C "$here/build/windows" halvorn_soak >/dev/null
  program="$here/build/windows/tests/halvorn_soak.exe"
fi
if [ ! -f "$program" ]; then
  echo "soak: $program is missing" >&2
  exit 2
fi

# The other core's load, for as long as the soak runs.
busy_loop() { while :; do :; done; }
busy_loop &
busy_pid=$!
trap 'kill "$busy_pid" 2>/dev/null || true' EXIT

echo "soak: $seconds s, other core busy (pid $busy_pid)"
if [ "$in_session" = 1 ]; then
  "$here/scripts/wine-run" "$program" "$seconds"
else
  "$here/scripts/wine-session.sh" "$here/scripts/wine-run" "$program" "$seconds"
fi
