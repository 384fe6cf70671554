#!/usr/bin/env bash
# Installs what building and testing the updater needs on Debian (as root),
# and nothing when it is all there already.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev file time openssl tmux
          g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          wine wine64)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
command -v python3 >/dev/null || missing+=(python3)

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  # wine64 without the i386 architecture: these machines run no 32-bit code,
  # and wine then runs x86_64 Windows programs.
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "all build and test packages are installed"
fi
