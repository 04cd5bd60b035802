#!/usr/bin/env bash
# The Windows package holds exactly the plug-in, its README with CRLF line
# ends, and the simulator folder with the simulated library, the host
# program and a README that warns it is a simulation; the binaries are the
# ones just built.
#   package_test.sh <zip> <ExtIO_halvorn.dll> <halvornusb.dll> <extio_host.exe> <work dir>
set -euo pipefail
package="$1" plugin="$2" simulator="$3" host="$4" work="$5"
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
[ -f "$package" ] || fail "no package at $package"
rm -rf "$work"
mkdir -p "$work"
unzip -q "$package" -d "$work"
top="$(basename "$package" .zip)"
cd "$work"

listing="$(cd "$top" && find . -type f | sort)"
expected="$(printf '%s\n' ./ExtIO_halvorn.dll ./README.txt ./simulator/README.txt ./simulator/extio_host.exe \
  ./simulator/halvornusb.dll | sort)"
[ "$listing" = "$expected" ] || fail "the package holds:
$listing"

cmp "$top/ExtIO_halvorn.dll" "$plugin" || fail "the package's plug-in is not the one built"
cmp "$top/simulator/halvornusb.dll" "$simulator" || fail "the package's simulated library is not the one built"
cmp "$top/simulator/extio_host.exe" "$host" || fail "the package's host program is not the one built"

for readme in "$top/README.txt" "$top/simulator/README.txt"; do
  # Every line ends in CR LF, and nothing else holds a CR or stands alone.
  python3 - "$readme" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
if not data.endswith(b"\r\n"): sys.exit(f"{sys.argv[1]} does not end with CR LF")
if data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\r\n"):
    sys.exit(f"{sys.argv[1]} has lines that do not end in CR LF")
if b"@VERSION@" in data: sys.exit(f"{sys.argv[1]} still holds @VERSION@")
PY
done

version="${top#ExtIO_halvorn-}"
version="${version%-win32}"
readme="$(tr -d '\r' <"$top/README.txt")"
for needed in "ExtIO_halvorn $version for Windows" "halvornusb.dll" "Attenuator" "Preselector" "ADC Preamp" \
  "ADC Dither" "DDC Output Sample Rate" "Clk Calib" "Rec and Stop" "File, File Size, Rec Time" \
  "Sun Dec 06 09-19-49 2026.wav" "rcvr" "16 bits" "4 GiB" "never copy it over the real halvornusb.dll"; do
  grep -qF -- "$needed" <<<"$readme" || fail "the README does not mention: $needed"
done
grep -qF "NOT FOR USE WITH THE REAL HARDWARE" "$top/simulator/README.txt" ||
  fail "the simulator's README does not warn that it is a simulation"
echo "passed: $top"
