#!/usr/bin/env bash
# Installs what building and testing the updater needs on Debian (as root),
# and nothing when it is all there already: the packages, and the private
# root of the emulated 32-bit wine (scripts/i386-root.sh, in build/).
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev file time openssl tmux osslsigncode
          g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          wine wine64 qemu-user-static)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
command -v python3 >/dev/null || missing+=(python3)

# The i386 package lists, for the private root of the emulated 32-bit wine
# (scripts/i386-root.sh). Nothing :i386 is installed.
need_lists=0
dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; need_lists=1; }
apt-cache show wine32:i386 >/dev/null 2>&1 || need_lists=1

export DEBIAN_FRONTEND=noninteractive
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  # wine and wine64 from the amd64 architecture only: /usr/bin/wine then
  # runs x86_64 Windows programs.
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
elif ((need_lists)); then
  apt-get update -q
else
  echo "all build and test packages are installed"
fi

bash "$(dirname "$0")/i386-root.sh"
