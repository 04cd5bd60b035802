#!/usr/bin/env bash
# halvorn-inspect.exe under Wine, one case per run, on recordings the real
# plug-in made through extio_host.exe and on the copies sox makes of them. The
# Windows build decodes samples itself where the native build uses
# libsndfile: its descriptions and SigMF files must be the native tool's, byte
# for byte.
#   inspector_test.sh CASE <wine-run> <Windows build dir> <native build dir> <work dir>
# Exit 77 (skipped) when a case needs the native inspector and it is not built.
set -euo pipefail
case_name="$1" wine_run="$2" windows_build="$3" native_build="$4" work="$5"
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_support.sh"

inspect_exe="$windows_build/halvorn-inspect.exe"
native_inspect="$native_build/tools/inspector/halvorn-inspect"
enter_empty_work_directory "$work"

# Runs halvorn-inspect.exe; its standard output (CR LF made LF) in out.txt,
# its standard error in err.txt, its exit status in $status.
run_exe() {
  set +e
  "$wine_run" "$inspect_exe" "$@" >out.crlf 2>err.crlf
  status=$?
  set -e
  tr -d '\r' <out.crlf >out.txt
  tr -d '\r' <err.crlf >err.txt
  cat out.txt err.txt
}
expect_status() { [ "$status" -eq "$1" ] || fail "halvorn-inspect.exe exited with $status, expected $1"; }
need_native() {
  if [ ! -x "$native_inspect" ]; then
    echo "the native inspector is not built ($native_build): build it to compare with it" >&2
    exit 77
  fi
}
# A recording of the simulated scene through the plug-in, named $2.
record() {  # rate name
  mkdir -p session
  (cd session && "$wine_run" "$windows_build/extio_host.exe" --rate "$1" --seconds 1.5 --record --quiet >session.log 2>&1) ||
    { cat session/session.log; fail "extio_host could not record at $1"; }
  mv session/*.wav "$2"
  rm -rf session
}

case "$case_name" in
Conventions)
  run_exe --help
  expect_status 0
  head -1 out.txt | grep -qF "usage: halvorn-inspect [--repair] [--sigmf] FILE..." || fail "--help gave no usage"
  [ ! -s err.txt ] || fail "--help wrote to standard error"
  run_exe /?
  expect_status 0
  grep -qF -- "--sigmf" out.txt || fail "/? gave no help"
  run_exe --version
  expect_status 0
  [[ "$(cat out.txt)" =~ ^"halvorn-inspect (ExtIO_halvorn) "[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version said: $(cat out.txt)"
  run_exe
  expect_status 2
  grep -qF "halvorn-inspect: which file?" err.txt || fail "no file: $(cat err.txt)"
  mkdir folder
  run_exe folder missing.wav
  expect_status 1
  grep -qF "folder: is a directory" err.txt || fail "a directory was not said to be one"
  grep -qF "missing.wav: cannot open the file: No such file or directory" err.txt || fail "a missing file was not said to be"
  # A WAV file named like its own SigMF data is left alone.
  sox -n -t wav -c 2 -r 8000 -b 16 own.sigmf-data trim 0 0.01
  cp own.sigmf-data own.copy
  run_exe --sigmf own.sigmf-data
  expect_status 1
  grep -qF "own.sigmf-data: no SigMF recording written: the SigMF files would overwrite the recording" err.txt ||
    fail "a file was nearly exported over itself: $(cat err.txt)"
  cmp own.sigmf-data own.copy || fail "the file was changed"
  ;;

MatchesTheNativeInspector)
  need_native
  record 250k rec24.wav
  record 2M rec16.wav
  sox rec24.wav trimmed.wav trim 0 0.5
  sox rec24.wav -e floating-point -b 32 floats.wav
  files=(rec24.wav rec16.wav trimmed.wav floats.wav)
  run_exe --sigmf "${files[@]}"
  expect_status 0
  cp out.txt windows.txt
  mkdir native
  cp "${files[@]}" native/
  (cd native && "$native_inspect" --sigmf "${files[@]}" >native.txt)
  cmp windows.txt native/native.txt || { diff windows.txt native/native.txt; fail "the descriptions differ"; }
  grep -qF "PCM (WAVE_FORMAT_EXTENSIBLE)" windows.txt || fail "sox's copy was not seen as WAVE_FORMAT_EXTENSIBLE"
  for name in rec24 rec16 trimmed floats; do
    for kind in sigmf-data sigmf-meta; do
      cmp "$name.$kind" "native/$name.$kind" || fail "$name.$kind differs from the native tool's"
    done
  done
  python3 - <<'PY'
import json, os, sys
for name, datatype, pair_bytes in (("rec24", "cf32_le", 8), ("rec16", "ci16_le", 4), ("floats", "cf32_le", 8)):
    meta = json.load(open(f"{name}.sigmf-meta"))
    if meta["global"]["core:datatype"] != datatype: sys.exit(f"{name}: datatype {meta['global']['core:datatype']}")
    frames = os.path.getsize(f"{name}.sigmf-data") // pair_bytes
    print(f"{name}: {datatype}, {frames} pairs, {meta['global']['core:sample_rate']} Hz, captures {meta['captures']}")
rec16 = open("rec16.wav", "rb").read()
if open("rec16.sigmf-data", "rb").read() != rec16[90:]: sys.exit("the 16-bit export is not the recording's samples")
if json.load(open("rec24.sigmf-meta"))["captures"][0]["core:frequency"] != 7050000: sys.exit("no LO in the capture")
PY
  # A second export replaces the first.
  run_exe --sigmf rec24.wav
  expect_status 0
  cmp rec24.sigmf-data native/rec24.sigmf-data || fail "the second export differs"
  ;;

RepairsARecordingACrashLeftUnfinished)
  record 250k finished.wav
  cp finished.wav crashed.wav
  python3 -c '
with open("crashed.wav", "r+b") as f:
    for offset in (4, 86):
        f.seek(offset); f.write(bytes(4))
    f.seek(0, 2); f.write(b"\x01\x02\x03")'
  run_exe crashed.wav
  expect_status 0
  grep -qF "State:              unfinished" out.txt || fail "the crashed recording was not called unfinished"
  run_exe --repair crashed.wav
  expect_status 0
  grep -qF "crashed.wav: repaired" out.txt || fail "no repair reported"
  cmp crashed.wav finished.wav || fail "the repaired recording is not the finished one"
  run_exe --repair crashed.wav
  expect_status 0
  grep -qF "already finished, nothing to repair" out.txt || fail "a finished recording was repaired again"

  # Past 2 GiB, where a 32-bit program's plain file offsets end: 3.6 GB of
  # silence that costs no disk.
  head -c 90 crashed.wav >long.wav
  python3 -c '
import os
with open("long.wav", "r+b") as f:
    for offset in (4, 86):
        f.seek(offset); f.write(bytes(4))
os.truncate("long.wav", 90 + 6 * 600000000)'
  run_exe --repair long.wav
  expect_status 0
  grep -qF "Data:               3600000000 bytes, 600000000 frames" out.txt || fail "the long recording was misread"
  python3 -c '
import sys
header = open("long.wav", "rb").read(90)
sizes = int.from_bytes(header[4:8], "little"), int.from_bytes(header[86:90], "little")
sys.exit(0 if sizes == (3600000082, 3600000000) else f"the long recording got the sizes {sizes}")'
  rm long.wav
  ;;

*)
  fail "no case $case_name"
  ;;
esac
echo "passed: $case_name"
