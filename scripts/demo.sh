#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds, and shows a
# complete update in a throwaway wine prefix against a loopback server.
set -euo pipefail
cd "$(dirname "$0")/.."
export HOME=${HOME:-/root}
bash scripts/setup.sh
mkdir -p build
echo "building (log: build/demo-build.log) ..."
bash scripts/build.sh > build/demo-build.log 2>&1 || { cat build/demo-build.log; exit 1; }
exec python3 scripts/demo.py
