#!/usr/bin/env bash
# The Windows package holds exactly what a user needs: the plug-in, its README,
# the licence and changelog (CRLF line ends), halvorn-inspect.exe in the tools
# folder, and the simulator folder with the simulated library, the host
# program and a README that warns it is a simulation. Each binary is the one
# just built, stripped, with its debug information left in the build's debug
# folder under the name its debug link gives, and carries a version resource
# of the package's version.
#   package_test.sh <zip> <Windows build dir> <debug dir> <objcopy> <objdump> <windres> <work dir>
set -euo pipefail
package="$1" build="$2" debug="$3" objcopy="$4" objdump="$5" windres="$6" work="$7"
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_support.sh"
[ -f "$package" ] || fail "no package at $package"
rm -rf "$work"
mkdir -p "$work"
unzip -q "$package" -d "$work"
top="$(basename "$package" .zip)"
version="${top#ExtIO_halvorn-}"
version="${version%-win32}"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "the package's name holds no version: $top"
cd "$work"

listing="$(cd "$top" && find . -type f | sort)"
expected="$(printf '%s\n' ./ExtIO_halvorn.dll ./README.txt ./LICENSE.txt ./CHANGELOG.txt ./tools/halvorn-inspect.exe \
  ./simulator/README.txt ./simulator/extio_host.exe ./simulator/halvornusb.dll | sort)"
[ "$listing" = "$expected" ] || fail "the package holds:
$listing"

# The binary in the package and the one built, with what each must say of itself.
check_binary() {  # path-in-package description-fragment
  local packed="$top/$1" name built sections resource
  name="$(basename "$1")"
  built="$build/$name"
  sections="$("$objdump" -h "$packed")"
  if grep -q " \.debug_" <<<"$sections"; then fail "$1 still holds debug sections"; fi
  grep -q " \.gnu_debuglink" <<<"$sections" || fail "$1 has no debug link"
  # The link is the debug file's name, zero-padded to four bytes, and its CRC-32.
  python3 - "$objdump" "$packed" "$name.debug" "$debug/$name.debug" <<'PY' || fail "$1 does not link to $debug/$name.debug"
import re, subprocess, sys, zlib
objdump, packed, name, debug = sys.argv[1:5]
dump = subprocess.run([objdump, "-s", "-j", ".gnu_debuglink", packed], capture_output=True, text=True, check=True).stdout
link = bytes.fromhex("".join("".join(m.group(1).split()) for m in re.finditer(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ?){1,4})", dump, re.M)))
linked = link[:link.index(b"\0")].decode()
crc = int.from_bytes(link[-4:], "little")
actual = zlib.crc32(open(debug, "rb").read())
print(f"{packed}: debug link {linked}, CRC {crc:08x}; {debug}: CRC {actual:08x}")
sys.exit(0 if linked == name and crc == actual else 1)
PY
  "$objdump" -h "$debug/$name.debug" | grep -q " \.debug_info" || fail "$debug/$name.debug holds no debug information"
  # The same code and exports as the binary built.
  "$objcopy" -O binary --only-section=.text "$packed" packed.text
  "$objcopy" -O binary --only-section=.text "$built" built.text
  cmp -s packed.text built.text || fail "the code of $1 is not that of $built"
  [ "$("$objdump" -p "$packed" | sed -n '/Ordinal\/Name Pointer/,/^$/p')" = \
    "$("$objdump" -p "$built" | sed -n '/Ordinal\/Name Pointer/,/^$/p')" ] || fail "$1 does not export what $built does"
  [ "$(stat -c %s "$packed")" -lt "$(stat -c %s "$built")" ] || fail "$1 is not smaller than $built"

  resource="$("$windres" -J coff -O rc -i "$packed")" || fail "$1 has no resources windres can read"
  for line in "FILEVERSION ${version//./, }, 0" "VALUE \"FileVersion\", \"$version\"" \
    "VALUE \"ProductVersion\", \"$version\"" "VALUE \"ProductName\", \"ExtIO_halvorn\"" \
    "VALUE \"OriginalFilename\", \"$name\"" "VALUE \"FileDescription\", \"$2"; do
    grep -qF -- "$line" <<<"$resource" || fail "the version resource of $1 does not say: $line"
  done
}
check_binary ExtIO_halvorn.dll "ExtIO receiver plug-in"
check_binary tools/halvorn-inspect.exe "Inspector"
check_binary simulator/halvornusb.dll "SIMULATED Halvorn receiver device library"
check_binary simulator/extio_host.exe "Command-line ExtIO host program"

# A Windows program of its own: the C and C++ runtimes are linked in.
imports="$("$objdump" -p "$top/tools/halvorn-inspect.exe" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')"
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "halvorn-inspect.exe imports $imports"

for text in README.txt LICENSE.txt CHANGELOG.txt simulator/README.txt; do
  # Every line ends in CR LF, and nothing else holds a CR or stands alone.
  python3 - "$top/$text" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
if not data.endswith(b"\r\n"): sys.exit(f"{sys.argv[1]} does not end with CR LF")
if data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\r\n"):
    sys.exit(f"{sys.argv[1]} has lines that do not end in CR LF")
if b"@VERSION@" in data: sys.exit(f"{sys.argv[1]} still holds @VERSION@")
PY
done
grep -qF "MIT License" "$top/LICENSE.txt" || fail "LICENSE.txt is not the MIT licence"
grep -qF "Copyright (c) 2026 The ExtIO_halvorn developers" "$top/LICENSE.txt" || fail "LICENSE.txt names no copyright holder"
grep -qF "## $version" "$top/CHANGELOG.txt" || fail "CHANGELOG.txt has no entry for $version"

readme="$(tr -d '\r' <"$top/README.txt")"
for needed in "ExtIO_halvorn $version for Windows" "halvornusb.dll" "Attenuator" "Preselector" "ADC Preamp" \
  "ADC Dither" "DDC Output Sample Rate" "Clk Calib" "Rec and Stop" "File, File Size, Rec Time" \
  "Sun Dec 06 09-19-49 2026.wav" "rcvr" "16 bits" "4 GiB" "never copy it over the real halvornusb.dll" \
  "current folder" "not writable" "VirtualStore" "tools\\halvorn-inspect --repair" "--sigmf" "48077" "LICENSE.txt" \
  "The host's own menus" "-30, -20, -10 and 0 dB" "extio_host --list"; do
  grep -qF -- "$needed" <<<"$readme" || fail "the README does not mention: $needed"
done
grep -qF "NOT FOR USE WITH THE REAL HARDWARE" "$top/simulator/README.txt" ||
  fail "the simulator's README does not warn that it is a simulation"
echo "passed: $top"
