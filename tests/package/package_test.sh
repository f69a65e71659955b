#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a throwaway root and checks what a
# desktop needs from it: the installed layout, the desktop entry, the icons,
# the AppStream data (both validators), the computed dependencies, and the
# unpacked program starting and running in a real X server.
# Usage: package_test.sh <source folder> <build folder> [screenshot.png]
set -euo pipefail
src=$(cd "$1" && pwd)
build=$2
shot=${3:-$build/quorbel-package-screenshot.png}
id=org.quorbel.Quorbel

fail() { echo "FAIL: $*"; exit 1; }
check() { local what=$1; shift; "$@" || fail "$what"; }

rm -f "$build"/quorbel_*.deb
"$src/scripts/package.sh" "$build"
debs=("$build"/quorbel_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "no package built"
deb=${debs[0]}
echo "package: $deb"

version=$(dpkg-deb -f "$deb" Version)
upstream=${version%-*}
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for d in qt6-qpa-plugins libqt6widgets6 libqt6core6 libc6; do
  grep -Eq "(^|, )$d( |,|$)" <<<"$depends" || fail "Depends lacks $d"
done
# Any one supported runtime will do, newest preferred.
grep -Eq "(^|, )libpython3\.13 \| libpython3\.12 \| libpython3\.11(,|$)" <<<"$depends" || fail "Depends lacks the runtime choice"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
usr=$root/usr

# The program lives in lib/quorbel and bin/quorbel links to it; no runtime
# folder is shipped: the program finds the system's library.
check "bin/quorbel is no link to the program" test "$(readlink "$usr/bin/quorbel")" = ../lib/quorbel/quorbel
file -L "$usr/bin/quorbel" | grep -q 'ELF 64-bit.*executable' || fail "bin/quorbel does not lead to an executable"
shipped=$(find "$usr/lib/quorbel" -name 'python3-linux-*')
check "a runtime folder is shipped: $shipped" test -z "$shipped"

desktop=$usr/share/applications/$id.desktop
metainfo=$usr/share/metainfo/$id.metainfo.xml
check "desktop entry missing" test -f "$desktop"
check "AppStream data missing" test -f "$metainfo"
grep -qx 'Exec=quorbel %f' "$desktop" || fail "Exec line"
grep -qx 'MimeType=text/x-python;' "$desktop" || fail "MimeType line"
grep -qx "Icon=$id" "$desktop" || fail "Icon line"
grep -Eq '^Categories=(.*;)?Development;' "$desktop" || fail "Categories lacks Development"
grep -Eq '^Categories=(.*;)?IDE;' "$desktop" || fail "Categories lacks IDE"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<release version=\"$upstream\"" "$metainfo" || fail "AppStream data has no release $upstream"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "AppStream launchable"

icons=$usr/share/icons/hicolor
check "scalable icon missing" test -f "$icons/scalable/apps/$id.svg"
grep -q '<svg' "$icons/scalable/apps/$id.svg" || fail "scalable icon is no SVG"
for size in 16 24 32 48 64 128 256 512; do
  png=$icons/${size}x${size}/apps/$id.png
  file "$png" | grep -q "PNG image data, $size x $size," || fail "icon $png is not $size x $size: $(file "$png")"
done

out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/quorbel" --version)
check "--version says '$out'" test "$out" = "quorbel $upstream"

# The unpacked program finds the system's runtime and runs.
"$src/tests/package/desktop_e2e.sh" "$usr/bin/quorbel" "$shot"
echo "package test: ok"
