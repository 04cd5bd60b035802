#!/usr/bin/env bash
# A host killed outright while recording (SIGKILL: no unload, no exit path):
# the host program records the counting pattern at RATE through the real DLL
# under Wine and is killed a few seconds in. The file it leaves must open in
# Python's wave, sox and libsndfile with the frames its last header update
# describes, whole blocks of consecutive counting pairs, and hold at most
# about a second more than that.
#
#   recording_kill_test.sh RATE WINE_RUN BUILD_DIR WORK_DIR     (RATE: 250k or 2M)
set -euo pipefail
rate="$1" wine_run="$2" build="$3" work="$4"

rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "recording_kill_test ($rate): $*" >&2; exit 1; }

# The host program runs as this shell's child: the Wine loader replaces itself
# with the Windows process, so the child's id is the process to kill.
"$wine_run" "$build/extio_host.exe" --rate "$rate" --seconds 120 --record --source counting --quiet \
  >host.txt 2>&1 &
host=$!

# The header's data size, 0 while there is no recording yet.
data_size() {
  python3 - "$@" <<'PY'
import glob, struct
files = glob.glob("*.wav")
size = 0
if files:
    with open(files[0], "rb") as f:
        header = f.read(90)
    if len(header) == 90:
        size = struct.unpack_from("<I", header, 86)[0]
print(size)
PY
}

# Killed once the header describes three seconds, mid-stream.
rate_bytes=$([ "$rate" = 2M ] && echo 8000000 || echo 1500000)
for _ in $(seq 600); do
  [ "$(data_size)" -ge $((3 * rate_bytes)) ] && break
  kill -0 "$host" 2>/dev/null || { cat host.txt >&2; fail "the host program ended by itself"; }
  sleep 0.1
done
[ "$(data_size)" -ge $((3 * rate_bytes)) ] || { kill -KILL "$host"; fail "the recording never reached three seconds"; }
kill -KILL "$host"
wait "$host" 2>/dev/null || true

recording="$(ls ./*.wav)"
python3 - "$recording" "$rate" <<'PY'
import struct, sys, wave
path, rate = sys.argv[1], sys.argv[2]
data = open(path, "rb").read()
riff, data_size = struct.unpack_from("<I", data, 4)[0], struct.unpack_from("<I", data, 86)[0]
align = struct.unpack_from("<H", data, 32)[0]
block = 1024 * align
in_file = len(data) - 90
problems = []
if riff != data_size + 82: problems.append(f"RIFF size {riff} for data size {data_size}")
if data_size % block: problems.append(f"data size {data_size} is not whole blocks of {block}")
if data_size > in_file: problems.append(f"data size {data_size} beyond the {in_file} bytes in the file")
byte_rate = struct.unpack_from("<I", data, 28)[0]
# Written every tenth of a second, described once a second.
if in_file - data_size > 2 * byte_rate: problems.append(f"{in_file - data_size} bytes beyond the last update")
with wave.open(path) as w:
    if w.getnframes() != data_size // align: problems.append(f"wave reads {w.getnframes()} frames")

def stored(k):
    if align == 6:
        return k.to_bytes(6, "little")
    first = k & 0xFFFFFF
    first = first - (1 << 24) if first & 0x800000 else first
    return struct.pack("<hh", min((first + 128) >> 8, 32767), 0)

def block_start(at):
    pair = data[90 + at:90 + at + align]
    if align == 6:
        return int.from_bytes(pair, "little")
    nearby = (struct.unpack_from("<H", pair)[0] << 8) // 1024 * 1024
    for k in ((nearby - 1024) % (1 << 24), nearby, nearby + 1024):
        if stored(k) == pair: return k
    return None

start = block_start(0)
if start is None or start % 1024: problems.append("the first block is no counting block")
else:
    blocks = data_size // block
    for b in range(blocks):
        # Every block's first and last pair, every pair of the first and last block.
        pairs = range(1024) if b in (0, blocks - 1) else (0, 1023)
        for i in pairs:
            k = start + b * 1024 + i
            at = 90 + b * block + i * align
            if data[at:at + align] != stored(k):
                problems.append(f"block {b} pair {i} is not counting pair {k}")
                break
        if len(problems) > 3: break
print(f"{path}: {data_size // align} frames described, {in_file} data bytes in the file")
if problems:
    print("\n".join(problems)); sys.exit(1)
PY
frames=$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(90); print(struct.unpack_from('<I',d,86)[0]//struct.unpack_from('<H',d,32)[0])" "$recording")
sox_samples=$(sox --i -s "$recording" 2>/dev/null || true)
[ "$sox_samples" = "$frames" ] || fail "sox reads ${sox_samples:-nothing}, the header says $frames frames"
sndfile_frames=$(sndfile-info "$recording" | awk '/^Frames/ { print $3 }')
[ "$sndfile_frames" = "$frames" ] || fail "libsndfile reads ${sndfile_frames:-nothing}, the header says $frames frames"
echo "recording_kill_test ($rate): ok, $frames frames"
