#!/usr/bin/env bash
# Configures and builds every tree of CMakePresets.json: build/native (unit
# tests against the fake platform), build/release (the 32-bit release exe),
# build/wine (the same sources for x86_64, run under wine), and the last two
# again with a throwaway package-signing key (build/release-testkey,
# build/wine-testkey) that this script makes in build/keys. Extra arguments
# go to every configure, e.g. -DUPDATE_HOST=updates.example.com
set -euo pipefail
cd "$(dirname "$0")/.."

# A key pair for the tests and the demo only; never for signing a release.
make_test_key() {
  local keys=build/keys
  [ -f "$keys/signing.pub.pem" ] && return 0
  mkdir -p "$keys"
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$keys/signing.pem" 2>/dev/null
  openssl pkey -in "$keys/signing.pem" -pubout -out "$keys/signing.pub.pem"
}

build() {
  local preset=$1; shift
  cmake --preset "$preset" "$@" > "build/$preset.configure.log" 2>&1 ||
    { cat "build/$preset.configure.log"; return 1; }
  cmake --build --preset "$preset"
}

mkdir -p build
make_test_key
for preset in native release wine release-testkey wine-testkey; do
  build "$preset" "$@"
done
