#!/usr/bin/env bash
# Builds everything and runs every test: the release build, the same suite
# under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and a short fuzzing smoke run of the saved-record reader.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
# Each stage prints its wall time, so a slow stage shows in CI's log.
run() {
  echo "== $*"
  local t0=$SECONDS
  "$@"
  echo "== $(($SECONDS - t0)) s: $*"
}

run cmake --preset release
run cmake --build --preset release
run ctest --preset release -j "$jobs"
run scripts/test-farm.sh build/release

run cmake --preset asan
run cmake --build --preset asan
run ctest --preset asan -j "$jobs"

run cmake --preset tsan
run cmake --build --preset tsan
run ctest --preset tsan -j "$jobs" -L threads

run scripts/test-browser.sh build/release

run cmake --preset fuzz
run cmake --build --preset fuzz --target record_fuzzer
corpus=$(mktemp -d)
run build/fuzz/bin/record_fuzzer -max_total_time=20 "$corpus" tests/fuzz/corpus
rm -rf "$corpus"
echo "All test stages passed in $SECONDS s."
