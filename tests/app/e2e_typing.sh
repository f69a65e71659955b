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

# Ctrl+S asks for the file each time: the whole path into the dialog's
# name field (it has the focus), then Enter.
save_as() {
  xdotool windowfocus --sync "$win"
  xdotool key ctrl+s
  local dialog=""
  for _ in $(seq 100); do
    dialog=$(xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
      [ "$w" != "$win" ] && xdotool getwindowname "$w" 2>/dev/null | grep -qv 'Quorbel$' && echo "$w"; done | head -n1 || true)
    [ -n "$dialog" ] && break
    sleep 0.1
  done
  [ -n "$dialog" ] || { echo "the save dialog did not appear"; cat "$work/app.log"; exit 1; }
  sleep 0.5
  xdotool key --delay 30 ctrl+a
  xdotool type --delay 20 "$1"
  xdotool key Return
  for _ in $(seq 50); do [ -s "$1" ] && break; sleep 0.1; done
  [ -s "$1" ] || { echo "nothing was saved"; cat "$work/app.log"; exit 1; }
}

target="$work/typed.py"
save_as "$target"

expected="$work/expected.py"
printf '\xEF\xBB\xBFdef f(x):\r\n    return x + 1\r\n' >"$expected"
if ! cmp -s "$target" "$expected"; then
  echo "saved bytes differ:"; od -c "$target" | head -20; exit 1
fi

# A middle click pastes the primary selection where it lands (past the end
# of whichever line is under the pointer).
printf '#m' | xclip -selection primary
sleep 0.3
# No window manager: the closed dialog took the keyboard focus with it.
xdotool windowfocus --sync "$win"
xdotool mousemove --window "$win" 400 160 click 2
sleep 0.3
pasted="$work/pasted.py"
save_as "$pasted"
first="$work/first.py"; second="$work/second.py"
printf '\xEF\xBB\xBFdef f(x):#m\r\n    return x + 1\r\n' >"$first"
printf '\xEF\xBB\xBFdef f(x):\r\n    return x + 1#m\r\n' >"$second"
if ! cmp -s "$pasted" "$first" && ! cmp -s "$pasted" "$second"; then
  echo "the middle click did not paste the primary selection:"; od -c "$pasted" | head -20; exit 1
fi
echo "typed, pasted with the middle button, saved and compared: $(wc -c <"$pasted") bytes"

# A layout with dead keys: characters whose keys have no code of their own,
# each typed right after a command key, arrive exactly once.
setxkbmap -layout us -variant intl
sleep 0.3
xdotool windowfocus --sync "$win"
xdotool key --delay 80 ctrl+End Left Right dead_acute e Home End ssharp Left Right ntilde Up Down Cyrillic_zhe
sleep 0.3
typed="$work/dead-keys.py"
save_as "$typed"
if ! tail -c 10 "$typed" | cmp -s - <(printf '\xC3\xA9\xC3\x9F\xC3\xB1\xD0\xB6\r\n'); then
  echo "the characters typed after command keys differ:"; od -c "$typed" | tail -5; exit 1
fi
echo "dead keys and keys without codes after command keys: each character once"
app_stop
