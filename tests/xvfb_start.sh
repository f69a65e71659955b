# Sourced by the tests that need a real X server. xvfb_start starts one on a
# display of its own and leaves $xvfb_pid and $DISPLAY set; $work is the
# test's folder (the server's log goes there). The display number is picked
# at random from a wide range rather than the lowest free one, so that tests
# running side by side never meet on one number.
xvfb_start() {
  local n
  for _ in $(seq 30); do
    n=$((100 + RANDOM % 9000))
    [ -e "/tmp/.X$n-lock" ] && continue
    # -noreset: without it the server resets when its last client leaves
    # (the probe below), and a client connecting meanwhile is refused.
    Xvfb ":$n" -screen 0 1400x800x24 -nolisten tcp -noreset 2>"$work/xvfb.log" &
    xvfb_pid=$!
    DISPLAY=":$n"
    export DISPLAY
    for _ in $(seq 50); do
      kill -0 "$xvfb_pid" 2>/dev/null || break
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    # Taken meanwhile, or slow to start: another number.
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  echo "Xvfb did not start"
  cat "$work/xvfb.log"
  exit 1
}
