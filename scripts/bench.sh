#!/usr/bin/env bash
# Builds the optimised benchmarks and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORBEL_TESTS=OFF -DQUORBEL_BENCH=ON
cmake --build build/bench
for b in build/bench/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $b"
  "$b" "$@"
done
for s in bench/*.sh; do
  [ -f "$s" ] || continue
  echo "== $s"
  bash "$s" build/bench
done
