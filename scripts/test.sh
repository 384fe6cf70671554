#!/usr/bin/env bash
# The test command: installs what is missing, builds every tree and runs
# every test - unit tests natively; the release checks on the 32-bit exe and
# its runs under the emulated 32-bit wine; the wine tests on the x86_64
# build - each with and without a package-signing key. Ends with one summary
# line.
set -uo pipefail
cd "$(dirname "$0")/.."
export HOME=${HOME:-/root}

bash scripts/setup.sh || exit 1
bash scripts/build.sh || exit 1

passed=0 failed=0
run_tree() {
  local tree=$1
  echo "=== tests: $tree"
  local log="build/$tree.ctest.log"
  ctest --preset "$tree" 2>&1 | tee "$log"
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  else
    echo "no test summary from the $tree tree"
    failed=$((failed + 1))
  fi
}

for tree in native release wine release-testkey wine-testkey; do
  run_tree "$tree"
done

echo "total: $passed passed, $failed failed"
((failed == 0))
