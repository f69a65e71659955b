#!/usr/bin/env bash
# Installs what is missing, builds the workbench and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORBEL_TESTS=OFF
cmake --build build/release --target quorbel
exec build/release/bin/quorbel "$@"
