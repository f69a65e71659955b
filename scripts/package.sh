#!/usr/bin/env bash
# Builds the Debian package quorbel_<version>_amd64.deb: an optimised build
# installed under /usr, packed by CPack with its dependencies computed.
# Usage: scripts/package.sh [build folder]   (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${1:-build/package}
# No runtime folder: the installed program uses whichever supported
# libpython the installing machine has.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORBEL_TESTS=OFF -DQUORBEL_BENCH=OFF -DQUORBEL_SANITIZE=OFF -DQUORBEL_INSTALL_LIBPYTHON=
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/quorbel_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/quorbel_*.deb
