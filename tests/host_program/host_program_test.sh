#!/usr/bin/env bash
# Whole sessions of extio_host.exe under Wine, one case per run: exit status
# and output, the recording read back with the native tools, the capture
# checked pair by pair.
#   host_program_test.sh CASE <wine-run> <Windows build dir> <native build dir> <work dir>
# Exit 77 (skipped) when a case needs the native tools and they are not built.
set -euo pipefail
case_name="$1" wine_run="$2" windows_build="$3" native_build="$4" work="$5"
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_support.sh"
# A locked directory left by an earlier run is opened for removal.
[ -d "$work/locked" ] && { chattr -i "$work/locked" 2>/dev/null || true; chmod u+w "$work/locked"; }

host="$windows_build/extio_host.exe"
inspect="$native_build/tools/inspector/halvorn-inspect"
spectrum="$native_build/tools/spectrum/halvorn-spectrum"
enter_empty_work_directory "$work"
windows_path() { local p="${1//\//\\}"; echo "Z:$p"; }

# Runs extio_host with the arguments given; its output lands in
# $work/host.log and on this script's output, its exit status in $status.
run_host() {
  set +e
  "$wine_run" "$host" "$@" >"$work/host.log" 2>&1
  status=$?
  set -e
  cat "$work/host.log"
}
expect_status() { [ "$status" -eq "$1" ] || fail "extio_host exited with $status, expected $1"; }
expect_output() { grep -qF -- "$1" "$work/host.log" || fail "extio_host did not say: $1"; }
need_tools() {
  if [ ! -x "$inspect" ] || [ ! -x "$spectrum" ]; then
    echo "the native tools are not built ($native_build): build them to read the recording back" >&2
    exit 77
  fi
}

# The summary's sample-rate and dropped-block lines, checked for one row.
check_rate_and_drops() {  # row reported-rate-Hz
  python3 - "$1" "$2" <<'PY'
import re, sys
row, table_hz = int(sys.argv[1]), int(sys.argv[2])
text = open("host.log").read()
m = re.search(r"sample rate: +measured (\d+) Hz over ([\d.]+) s; GetHWSR (\d+) Hz", text)
if not m: sys.exit("no measured rate in the summary")
measured, span, reported = int(m.group(1)), float(m.group(2)), int(m.group(3))
if reported != table_hz: sys.exit(f"GetHWSR gave {reported} Hz at row {row}, not {table_hz}")
error = abs(measured - reported) / reported
print(f"row {row}: measured {measured} Hz over {span} s against {reported} Hz: {100 * error:.3f} %")
if error > 0.01: sys.exit("the measured rate is more than 1 % off GetHWSR")
d = re.search(r"dropped: +(\d+) blocks \(exact", text)
if not d: sys.exit("no exact dropped-block count in the summary")
if int(d.group(1)) != 0: sys.exit(f"{d.group(1)} blocks dropped")
b = re.search(r"blocks: +(\d+) received", text)
if not b or int(b.group(1)) < 100: sys.exit("too few blocks received")
PY
}

case "$case_name" in
Help)
  run_host --help
  expect_status 0
  for option in --plugin --lo --rate --att --list --seconds --record --source --capture --panel-picture --watchdog \
    --quiet --help --version; do
    expect_output "  $option"
  done
  expect_output "2 wrong command line"
  run_host --version
  expect_status 0
  version="$(tr -d '\r' <"$work/host.log")"
  [[ "$version" =~ ^"extio_host (ExtIO_halvorn) "[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version said: $version"
  ;;

UsageErrors)
  run_host --seconds 0
  expect_status 2
  expect_output "--seconds wants a number of seconds"
  run_host --rate 3M
  expect_status 2
  expect_output "--rate wants a row 0-8"
  run_host --record --frobnicate
  expect_status 2
  expect_output "unknown option --frobnicate"
  ;;

MissingPlugin)
  run_host --plugin "$(windows_path "$work/nowhere/ExtIO_none.dll")" --seconds 1
  expect_status 1
  expect_output "there is no plug-in at"
  ;;

NotAPlugin)
  # A DLL that loads but exports no entry point of a plug-in...
  run_host --plugin "$(windows_path "$windows_build/halvornusb.dll")" --seconds 1
  expect_status 1
  expect_output "halvornusb.dll is not an ExtIO plug-in: the plug-in has no entry point InitHW"
  # ...and a file that is no DLL at all.
  echo "not a library" >text.dll
  run_host --plugin "$(windows_path "$work/text.dll")" --seconds 1
  expect_status 1
  expect_output "cannot load"
  ;;

InitHwFailsWithoutTheDeviceLibrary)
  # The program and the plug-in alone in a folder: the plug-in finds no device
  # library, says so in a box, which the program closes and reports.
  mkdir lonely
  cp "$host" "$windows_build/ExtIO_halvorn.dll" lonely/
  host="$work/lonely/extio_host.exe"
  run_host --seconds 5
  expect_status 3
  expect_output 'the plug-in showed a message box "Halvorn DLL for Winrad": "halvornusb.dll not found"'
  expect_output '(closed by extio_host)'
  expect_output 'InitHW failed: the plug-in said "halvornusb.dll not found"'
  ;;

BlocksThatNeverComeTripTheWatchdog)
  # The stream starts, but the receiver's input stalls from its first moment.
  HALVORNSIM_STALL=0,60000 run_host --seconds 30 --watchdog 1
  expect_status 4
  expect_output "no block arrived within 1.0 s of StartHW"
  # The session ended at the watchdog, not after the 30 s asked for.
  grep -qE "session: +1\.[0-9] s streamed" host.log || fail "the session did not end at the watchdog"
  ;;

AStartThatStreamsNothingIsReported)
  # A receiver that refuses its input: StartHW says so rather than letting the
  # host wait for blocks.
  HALVORNSIM_FAIL=StartAsyncInput run_host --seconds 30 --watchdog 10
  expect_status 4
  expect_output "StartHW refused to start: it returned -1"
  ;;

RecordsTheSceneAndTheToolsFindItsCarriers)
  need_tools
  run_host --rate 250k --lo 7.05M --seconds 4 --record --source scene --panel-picture panel.bmp
  expect_status 0
  expect_output "status 102: recording started"
  expect_output "status 103: recording stopped"
  expect_output "result:        ok"
  shopt -s nullglob
  recordings=(*.wav)
  [ "${#recordings[@]}" -eq 1 ] || fail "expected one recording, found ${#recordings[@]}"
  recording="${recordings[0]}"
  expect_output "$recording: complete"

  "$inspect" "$recording" | tee inspect.txt
  for line in "24 bits, 250000 samples/s" "LO:                 7050000 Hz" "State:              finished"; do
    grep -qF "$line" inspect.txt || fail "halvorn-inspect did not say: $line"
  done

  "$spectrum" "$recording" -o spectrum.png --peaks 20 | tee spectrum.txt
  python3 - <<'PY'
import re, struct, sys
text = open("spectrum.txt").read()
peaks = [float(m.group(1)) for m in re.finditer(r"^  (-?[\d.]+) Hz  -?[\d.]+ dBFS$", text, re.M)]
bin_hz = float(re.search(r"([\d.]+) Hz bins", text).group(1))
# The simulated receiver's clock runs 2.1 ppm fast: every station shows that
# much below its RF frequency.
scale = 80000000 / 80000170
for rf in (6995000, 7020000, 7040000, 7051500, 7075000, 7100000):
    shown = rf * scale
    nearest = min(peaks, key=lambda p: abs(p - shown))
    print(f"station {rf} Hz: expected at {shown:.1f} Hz, nearest peak {nearest:.1f} Hz")
    if abs(nearest - shown) > max(3.0, 0.2 * bin_hz):
        sys.exit(f"no peak at the station on {rf} Hz")
with open("panel.bmp", "rb") as f:
    header = f.read(54)
if header[:2] != b"BM": sys.exit("the panel picture is no BMP file")
width, height = struct.unpack("<ii", header[18:26])
print(f"panel picture {width} x {height}")
if not (150 <= width <= 400 and 400 <= height <= 800): sys.exit("the panel picture does not have the panel's size")
PY

  # A recording left unfinished (sizes 0, as after a crash) is drawn all the
  # same, with a note.
  cp "$recording" unfinished.wav
  python3 -c '
with open("unfinished.wav", "r+b") as f:
    for offset in (4, 86):
        f.seek(offset); f.write(bytes(4))'
  "$spectrum" unfinished.wav -o unfinished.png | tee unfinished.txt
  grep -qF "note: unfinished recording" unfinished.txt || fail "halvorn-spectrum did not call the file unfinished"
  ;;

CtrlCEndsTheSessionCleanly)
  # Ctrl+C (SIGINT, which Wine turns into the console's Ctrl+C event) ends a
  # 30-second session after a few seconds with the recording completed.
  "$wine_run" "$host" --seconds 30 --record --source counting >host.log 2>&1 &
  host_pid=$!
  for _ in $(seq 1 100); do grep -q "^recording:" host.log && break; sleep 0.2; done
  sleep 1.5
  kill -INT "$host_pid"
  set +e
  wait "$host_pid"
  status=$?
  set -e
  cat host.log
  expect_status 0
  expect_output "interrupted: ending the session"
  expect_output "status 103: recording stopped"
  grep -qE "session: +[1-9]\.[0-9] s streamed" host.log || fail "the session did not end at the interruption"
  grep -qE "recording: +.*\.wav: complete" host.log || fail "the recording was not completed"
  grep -qE "dropped: +0 blocks \(exact" host.log || fail "blocks were lost"
  ;;

ARecordingThatCannotStartIsReported)
  # The recording's directory (the current one) takes no new file: the
  # plug-in says so in a box, which the host closes and reports.
  mkdir locked
  chmod a-w locked
  if [ "$(id -u)" -eq 0 ]; then
    chattr +i locked 2>/dev/null || true
    trap 'chattr -i "$work/locked" 2>/dev/null || true' EXIT
  fi
  if touch locked/probe 2>/dev/null; then
    echo "no way to make a directory unwritable here" >&2
    exit 77
  fi
  cd locked
  run_host --record --seconds 5
  expect_status 5
  expect_output 'the plug-in showed a message box "Halvorn DLL for Winrad": "Recording not started: cannot create'
  expect_output "the recording did not start: Recording not started: cannot create"
  ;;

CaptureHoldsEveryPairInOrder)
  run_host --rate 250k --seconds 2 --source counting --capture capture.iq
  expect_status 0
  python3 - <<'PY'
import re, sys
text = open("host.log").read()
blocks = int(re.search(r"blocks: +(\d+) received", text).group(1))
data = open("capture.iq", "rb").read()
if len(data) != blocks * 6144: sys.exit(f"capture of {len(data)} bytes for {blocks} blocks")
# Pair k of the stream carries k: the host received every pair once, in order.
for k in range(len(data) // 6):
    if int.from_bytes(data[6 * k:6 * k + 6], "little") != k:
        sys.exit(f"pair {k} of the capture carries {int.from_bytes(data[6 * k:6 * k + 6], 'little')}")
print(f"capture: {blocks} blocks, every pair in order")
PY
  ;;

ARateChosenOnThePanelMidStreamRestartsTheStream)
  # A user clicks "500 kS/s" with the real X pointer while the stream runs at
  # 125 kS/s: the plug-in puts the rate in force and sends status 100, and the
  # host starts the stream again as older hosts do, losing nothing.
  command -v xdotool >/dev/null || { echo "xdotool is not installed" >&2; exit 77; }
  "$wine_run" "$host" --seconds 6 --source counting >host.log 2>&1 &
  host_pid=$!
  for _ in $(seq 1 100); do grep -q "^streaming:" host.log && break; sleep 0.2; done
  grep -q "^streaming:" host.log || { kill "$host_pid"; fail "the stream did not start"; }
  sleep 1
  frame="$(xdotool search --name '^HALVORN SDR$' | head -1)"
  [ -n "$frame" ] || { kill "$host_pid"; fail "no panel on the X screen"; }
  eval "$(xdotool getwindowgeometry --shell "$frame")"
  # The frame is the dialog (139 x 343 dialog units) plus 4 pixels of border
  # at the sides and the bottom and 28 at the top; "500 kS/s" is the control
  # at 12, 117, 97 x 11 dialog units.
  x=$((X + 4 + (12 + 97 / 2) * (WIDTH - 8) / 139))
  y=$((Y + 28 + (117 + 11 / 2) * (HEIGHT - 32) / 343))
  xdotool mousemove "$x" "$y" click 1
  set +e
  wait "$host_pid"
  status=$?
  set -e
  cat host.log
  expect_status 0
  expect_output "status 100: the sample rate is now 500000 Hz (GetHWSR)"
  expect_output "restarting the stream at the new rate"
  expect_output "restarted after a rate change"
  check_rate_and_drops 2 500000
  ;;

ListsThePlugInsOwnMenus)
  HALVORNSIM_JOURNAL="$(windows_path "$work/journal.txt")" run_host --list --quiet
  expect_status 0
  expect_output "rate menu (ExtIoGetSrates, ExtIoGetBandwidth):"
  expect_output "   0     125000 Hz  bandwidth  120000 Hz  (current)"
  expect_output "   5      95238 Hz  bandwidth   88000 Hz"
  expect_output "   8     192308 Hz  bandwidth  176000 Hz"
  expect_output "attenuator menu (GetAttenuators):"
  expect_output "   0   -30.0 dB"
  expect_output "   3     0.0 dB  (current)"
  [ "$(grep -c " Hz  bandwidth " host.log)" -eq 9 ] || fail "the rate menu does not have nine rows"
  [ "$(grep -c " dB" host.log)" -eq 4 ] || fail "the attenuator menu does not have four steps"
  # Menus only: nothing streamed.
  if grep -q "^StartAsyncInput" journal.txt; then fail "--list started the stream"; fi
  ;;

RateAndAttenuatorThroughTheExtendedEntryPoints)
  HALVORNSIM_JOURNAL="$(windows_path "$work/journal.txt")" run_host --rate 192k --att 30 --seconds 2 --source counting
  expect_status 0
  expect_output "sample rate: 192308 Hz, chosen through ExtIoSetSrate (row 8)"
  expect_output "attenuator: 30 dB, chosen through SetAttenuator (entry 0)"
  # A rate the host chose is not told back to it.
  if grep -q "status 100" host.log; then fail "the plug-in told the host the rate it chose itself"; fi
  grep -q "^SetAttenuator step=3" journal.txt || fail "the receiver's attenuator was not set to 30 dB"
  grep -q "^StartAsyncInput bytes=12288 " journal.txt || fail "the stream did not start at 192 kS/s's transfer size"
  check_rate_and_drops 8 192308
  run_host --att 15 --seconds 1
  expect_status 5
  expect_output "cannot attenuate by 15 dB: the plug-in's attenuator offers 30, 20, 10, 0 dB"
  ;;

RateRow[0-8]MeasuresAsReportedWithoutDrops)
  row="${case_name:7:1}"
  rates=(125000 250000 500000 1000000 2000000 95238 48077 96154 192308)
  run_host --rate "$row" --seconds 3 --source counting --quiet
  expect_status 0
  check_rate_and_drops "$row" "${rates[$row]}"
  ;;

*)
  fail "no case $case_name"
  ;;
esac
echo "passed: $case_name"
