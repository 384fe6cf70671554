#!/usr/bin/env bash
# Configures and builds the three trees: build/native (unit tests against the
# fake platform), build/i686 (the 32-bit release exe) and build/x86_64 (the
# same sources, run under wine). Extra arguments go to every configure, e.g.
# -DUPDATE_HOST=updates.example.com
set -euo pipefail
cd "$(dirname "$0")/.."

configure() {
  local tree=$1; shift
  cmake -S . -B "build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" > "build/$tree.configure.log" 2>&1 ||
    { cat "build/$tree.configure.log"; return 1; }
  cmake --build "build/$tree"
}

mkdir -p build
configure native "$@"
configure i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "$@"
configure x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "$@"
