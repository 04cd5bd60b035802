#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian bookworm machine
# (run as root, or with sudo available).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake ninja-build g++ pkg-config python3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 fonts-wine xvfb xauth xdotool x11-apps imagemagick
  sox libsndfile1-dev sndfile-programs python3-numpy
  libfftw3-dev libcairo2-dev
  zip unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
