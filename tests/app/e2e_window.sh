#!/usr/bin/env bash
# Starts the built workbench in a real X server and waits for its main window;
# saves a screenshot beside the test's working folder.
set -euo pipefail
exe=$1
shot=${2:-quorbel-screenshot.png}

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1400x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$exe" >"$work/app.log" 2>&1 &
app_pid=$!

found=""
for _ in $(seq 200); do
  found=$(xwininfo -root -tree 2>/dev/null | grep '"Quorbel"' | awk '{print $1}' | head -n1 || true)
  [ -n "$found" ] && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$found" ]; then
  echo "no window titled Quorbel appeared"; cat "$work/app.log"; exit 1
fi
sleep 1 # let the first paint finish before the picture
import -window "$found" "$shot"
echo "screenshot: $shot"
kill -0 "$app_pid" # still running
