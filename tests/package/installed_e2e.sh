#!/usr/bin/env bash
# CI only (CI=true, as root): installs the built package with dpkg -i, starts
# the installed quorbel in a real X server and takes a screenshot; removes the
# package again unless it was installed before. Elsewhere it skips (exit 77),
# so the test command never installs packages on a developer's machine.
# Usage: installed_e2e.sh <build folder> [screenshot.png]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
shot=${2:-$build/quorbel-installed-screenshot.png}

if [ "${CI:-}" != "true" ] || [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installs the package only in CI as root"
  exit 77
fi
debs=("$build"/quorbel_*_amd64.deb)
[ -f "${debs[0]}" ] || { echo "FAIL: no package in $build"; exit 1; }

was_installed=false
dpkg-query -W -f='${Status}' quorbel 2>/dev/null | grep -q 'install ok installed' && was_installed=true
cleanup() { $was_installed || dpkg -r quorbel >/dev/null || true; }
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive dpkg -i "${debs[0]}"
command -v quorbel | grep -qx /usr/bin/quorbel || { echo "FAIL: quorbel is not /usr/bin/quorbel"; exit 1; }
"$src/tests/package/desktop_e2e.sh" quorbel "$shot" --expect-icon
echo "installed package: ok"
