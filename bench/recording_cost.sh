#!/usr/bin/env bash
# What recording adds to the host process under Wine: the host program
# streams the counting pattern for SECONDS at RATE, once without and once with
# --record, RUNS times in turn, and each run's user + system time of the whole
# Wine process is taken from /usr/bin/time. Prints every pair and the median
# of the difference as a share of one core.
#
#   bench/recording_cost.sh [RATE] [SECONDS] [RUNS]        (2M 20 5)
# Needs a Windows build (scripts/build.sh); runs in a Wine session of its own.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
rate="${1:-2M}" seconds="${2:-20}" runs="${3:-5}"

if [ -z "${HALVORN_COST_IN_SESSION:-}" ]; then
  export HALVORN_COST_IN_SESSION=1
  exec "$here/scripts/wine-session.sh" "$0" "$@"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
cpu_seconds() {  # the host program's user + system seconds
  /usr/bin/time -f "%U %S" -o time.txt wine "$here/build/windows/extio_host.exe" --rate "$rate" \
    --seconds "$seconds" --source counting --quiet "$@" >/dev/null 2>&1
  awk '{ print $1 + $2 }' time.txt
}
cpu_seconds >/dev/null  # Wine's first start is not a run
differences=()
for run in $(seq "$runs"); do
  without=$(cpu_seconds)
  with=$(cpu_seconds --record)
  rm -f ./*.wav
  share=$(awk -v a="$with" -v b="$without" -v s="$seconds" 'BEGIN { printf "%.3f", (a - b) / s * 100 }')
  echo "run $run: without ${without} s, with ${with} s: recording adds ${share} % of a core"
  differences+=("$share")
done
median=$(printf '%s\n' "${differences[@]}" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "recording at $rate adds $median % of a core (median of $runs pairs, $seconds s each)"
