#!/usr/bin/env bash
# Installs what is missing, builds everything with the sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORBEL_SANITIZE=ON -DQUORBEL_TESTS=ON -DQUORBEL_WERROR=ON
cmake --build build/test
cd build/test
ctest --output-on-failure -j2 "$@"

# A short fuzzing run over every target's corpus and a little beyond: a seed or
# a past finding that fails again fails the test run. QUORBEL_FUZZ_SECONDS=0 skips it.
fuzz_seconds=${QUORBEL_FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" != 0 ]; then
  cd ../..
  scripts/fuzz.sh "$fuzz_seconds"
fi
