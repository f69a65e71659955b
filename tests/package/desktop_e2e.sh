#!/usr/bin/env bash
# Starts an installed workbench in a real X server as a desktop would: without
# arguments it shows its window and runs the default script from the run
# button; with a file argument it opens that file. Saves a screenshot after
# the run. With --expect-icon (an installed program) the window must carry the
# application icon from the icon theme.
# Usage: desktop_e2e.sh <program> <screenshot.png> [--expect-icon]
set -euo pipefail
exe=$1
shot=$2
expect_icon=${3:-}

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
stop_app() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  app_pid=""
}
cleanup() {
  stop_app
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/app.log" ] && cat "$work/app.log"; exit 1; }

. "$(dirname "${BASH_SOURCE[0]}")/../xvfb_start.sh"
xvfb_start

# Started from somewhere else than the program's folder, as a launcher does.
start() {
  (cd "$work" && exec env XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb "$exe" "$@" >"$work/app.log" 2>&1) &
  app_pid=$!
}
# Prints the id of the program's top-level window with exactly this title, once
# it is up.
wait_window() {
  local found=""
  for _ in $(seq 300); do
    found=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\": (\"quorbel\"" | awk '{print $1}' | head -n1 || true)
    [ -n "$found" ] && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$found" ] || fail "no window titled '$1' appeared"
  echo "$found"
}
# Differing pixels of the "json Output" pane between two pictures of the window.
json_pane_change() {
  convert "$1" -crop 540x140+4+380 +repage "$work/a.png"
  convert "$2" -crop 540x140+4+380 +repage "$work/b.png"
  compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 | sed 's/ .*//' || true
}

start
win=$(wait_window "Quorbel")
sleep 1 # the first paint
if [ "$expect_icon" = --expect-icon ]; then
  # Read whole first: grep -q would quit early and, with pipefail, xprop's
  # broken pipe would count as a missing icon.
  icon=$(xprop -id "$win" _NET_WM_ICON)
  grep -q 'Icon (' <<<"$icon" || fail "the window has no icon"
fi
import -window "$win" "$work/before.png"
# Run: first through the menu's keys (テスト, 実行), then by clicking the run
# button, the first tool button after the file commands, in case the keys
# came before the window took input.
changed=0
for click in 1 2 3; do
  if [ "$click" = 1 ]; then
    xdotool windowfocus --sync "$win" key alt+t sleep 0.5 key r
  else
    xdotool mousemove --window "$win" 127 43 click 1
  fi
  for _ in $(seq 50); do
    sleep 0.2
    import -window "$win" "$work/after.png"
    changed=$(json_pane_change "$work/before.png" "$work/after.png")
    [ "${changed:-0}" -gt 200 ] && break 2
  done
  echo "no result after attempt $click"
done
[ "${changed:-0}" -gt 200 ] || fail "the run showed nothing in the json Output pane (changed pixels: $changed)"
kill -0 "$app_pid" || fail "the program ended during the run"
cp "$work/after.png" "$shot"
echo "screenshot after the run: $shot"
stop_app

printf 'print("hello")\n' >"$work/hello.py"
start hello.py
wait_window "hello.py  Quorbel" >/dev/null
stop_app

# A missing file: the untitled window, and the error box captioned with the
# program's name over it.
start missing.py
wait_window "quorbel" >/dev/null
wait_window "Quorbel" >/dev/null
stop_app
echo "desktop start and file arguments: ok"
