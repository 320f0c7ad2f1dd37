#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, when missing,
# and those named as arguments (other scripts' own needs). Needs root
# (apt-get); says what it installs.
set -euo pipefail

packages=(
  cmake g++ make python3 python3-pefile
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  qt6-base-dev libx11-dev libxtst-dev xvfb xauth x11-utils imagemagick
  clang clang-format libclang-rt-14-dev googletest
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "These Debian packages are missing; run this script as root to install them: ${missing[*]}" >&2
  exit 1
fi
echo "Installing Debian packages: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Debian packages installed."
