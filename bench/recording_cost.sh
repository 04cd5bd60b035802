#!/usr/bin/env bash
# What recording adds to the host process under Wine, against what the system
# charges for writing the same bytes at all. Each run takes four processes in
# turn, each's user + system time of the whole Wine process from /usr/bin/time:
#   the host program streaming the counting pattern for SECONDS at RATE,
#   without and with --record;
#   paced_write.exe waking ten times a second for as long, without and with
#   writing the bytes a second of the recording holds each second.
# Prints every run and the medians of both differences as shares of one core,
# and their ratio: 1 means recording costs no more than a plain write of its
# bytes.
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
cpu_seconds() {  # the Wine process's user + system seconds; a failed run ends the script
  local status=0
  /usr/bin/time -f "%U %S" -o time.txt wine "$@" >output.txt 2>&1 || status=$?
  rm -f ./*.wav paced_write.bin
  if [ "$status" -ne 0 ]; then
    echo "recording_cost.sh: $(basename "$1") exited with $status:" >&2
    tail -5 output.txt >&2
    return 1
  fi
  awk '{ print $1 + $2 }' time.txt
}
host() {
  cpu_seconds "$here/build/windows/extio_host.exe" --rate "$rate" --seconds "$seconds" --source counting --quiet "$@"
}
paced() {
  cpu_seconds "$here/build/windows/paced_write.exe" "$rate" "$seconds" "$1"
}
share() {  # (with - without) over the seconds, as % of a core
  awk -v a="$1" -v b="$2" -v s="$seconds" 'BEGIN { printf "%.3f", (a - b) / s * 100 }'
}
median() {
  sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

host >/dev/null  # Wine's first start is not a run
recording=()
plain=()
for run in $(seq "$runs"); do
  without=$(host)
  with=$(host --record)
  idle=$(paced idle)
  writing=$(paced write)
  recording+=("$(share "$with" "$without")")
  plain+=("$(share "$writing" "$idle")")
  echo "run $run: host ${without} s, recording ${with} s: adds ${recording[-1]} %;" \
    "paced_write idle ${idle} s, writing ${writing} s: adds ${plain[-1]} %"
done
recording_median=$(printf '%s\n' "${recording[@]}" | median)
plain_median=$(printf '%s\n' "${plain[@]}" | median)
echo "recording at $rate adds $recording_median % of a core; a plain paced write of the bytes it stores" \
  "adds $plain_median % (medians of $runs runs, $seconds s each): ratio" \
  "$(awk -v a="$recording_median" -v b="$plain_median" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')"
