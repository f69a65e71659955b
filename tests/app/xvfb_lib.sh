# Sourced by the window tests: an X server of their own, the workbench started
# in it with fresh settings and state folders, and both ended (the folder removed) on
# exit, whatever way the test ends. Leaves $work, $DISPLAY and $app_pid set;
# app_stop ends the workbench and checks how it exited.

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
xvfb_cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap xvfb_cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../xvfb_start.sh"

app_start() {
  XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb "$1" >"$work/app.log" 2>&1 &
  app_pid=$!
}

# Ends the workbench as a logout does (SIGTERM: it closes its window and
# returns from main) and fails unless it exits with 0. In a sanitizer build a
# leak found at exit makes the exit code non-zero; the report goes to the
# standard error the program started with, shown here from its log.
app_stop() {
  local rc=0
  kill -TERM "$app_pid"
  for _ in $(seq 600); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then
    echo "the workbench did not end within 60 s of SIGTERM"; cat "$work/app.log"; exit 1
  fi
  wait "$app_pid" || rc=$?
  app_pid=""
  if [ "$rc" -ne 0 ]; then
    echo "the workbench exited with $rc:"; cat "$work/app.log"; exit 1
  fi
}

# Runs the given finder until it prints a window id (put in $win), for up to
# 20 s; gives up at once if the workbench has exited.
wait_for_window() {
  win=""
  for _ in $(seq 200); do
    win=$("$@" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$win" ]; then
    echo "no window titled Quorbel appeared"
    cat "$work/app.log"
    kill -0 "$xvfb_pid" 2>/dev/null && echo "Xvfb on $DISPLAY still runs" || echo "Xvfb on $DISPLAY has ended"
    cat "$work/xvfb.log"
    exit 1
  fi
}
