#!/usr/bin/env bash
# Reads the real workbench's script editor as a screen reader does: an X
# server, a session bus and the accessibility bus of their own, the program
# started with its accessibility always on, and atspi_read.py talking to it
# over AT-SPI.
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)

# A private session bus: the accessibility bus is found through it.
if [ -z "${QUORBEL_ATSPI_SESSION:-}" ]; then
  exec env QUORBEL_ATSPI_SESSION=1 dbus-run-session -- bash "$0" "$@"
fi

. "$here/../app/xvfb_lib.sh"
launcher_pid=""
atspi_cleanup() {
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
  xvfb_cleanup
}
trap atspi_cleanup EXIT

xvfb_start
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
launcher_pid=$!
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null 2>&1 && break
  sleep 0.1
done

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
find_window() { xdotool search --name '^Quorbel$'; }
app_start "$exe"
wait_for_window find_window
sleep 1
if ! /usr/bin/python3 "$here/atspi_read.py" "$app_pid" "$win"; then
  echo "--- program log"; cat "$work/app.log"; exit 1
fi
