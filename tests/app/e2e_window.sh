#!/usr/bin/env bash
# Starts the built workbench in a real X server and waits for its main window;
# saves a screenshot beside the test's working folder, then ends it and
# checks its exit (a leak found at exit fails the test).
set -euo pipefail
exe=$1
shot=${2:-quorbel-screenshot.png}

. "$(dirname "$0")/xvfb_lib.sh"
find_window() { xwininfo -root -tree | grep '"Quorbel"' | awk '{print $1}'; }
xvfb_start
app_start "$exe"
wait_for_window find_window
sleep 1 # let the first paint finish before the picture
import -window "$win" "$shot"
echo "screenshot: $shot"
kill -0 "$app_pid" # still running
app_stop
