#!/usr/bin/env bash
# Types a function into the real window of the built workbench in an X
# server, saves it through the file dialog and compares the file's bytes.
set -euo pipefail
exe=$1

. "$(dirname "$0")/xvfb_lib.sh"
find_window() { xdotool search --name '^Quorbel$'; }
xvfb_start
app_start "$exe"
wait_for_window find_window
sleep 1

# Into the script pane (below the menu, toolbar and header), then replace
# the default script by the typed function.
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
xdotool mousemove --window "$win" 400 160 click 1
sleep 0.3
xdotool key --delay 50 ctrl+a Delete
# Enter after the colon indents by four blanks; the return line needs none.
xdotool type --delay 30 'def f(x):'
xdotool key Return
xdotool type --delay 30 'return x + 1'
sleep 0.3

target="$work/typed.py"
xdotool key ctrl+s
dialog=""
for _ in $(seq 100); do
  dialog=$(xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
    [ "$w" != "$win" ] && xdotool getwindowname "$w" 2>/dev/null | grep -qv '^Quorbel$' && echo "$w"; done | head -n1 || true)
  [ -n "$dialog" ] && break
  sleep 0.1
done
[ -n "$dialog" ] || { echo "the save dialog did not appear"; cat "$work/app.log"; exit 1; }
sleep 0.5
# The dialog's name field has the focus: the whole path, then Enter.
xdotool key --delay 30 ctrl+a
xdotool type --delay 20 "$target"
xdotool key Return
for _ in $(seq 50); do [ -s "$target" ] && break; sleep 0.1; done
[ -s "$target" ] || { echo "nothing was saved"; cat "$work/app.log"; exit 1; }

expected="$work/expected.py"
printf '\xEF\xBB\xBFdef f(x):\r\n    return x + 1\r\n' >"$expected"
if ! cmp -s "$target" "$expected"; then
  echo "saved bytes differ:"; od -c "$target" | head -20; exit 1
fi
echo "typed, saved and compared: $(wc -c <"$target") bytes"
