#!/usr/bin/env bash
# Starts Corvane in the project's own Wine prefix, with our component registered there.
# Without a display it runs inside Wine's own desktop on a virtual display, saves a
# screenshot, says where, and ends the program again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-build}")

export CORVANE_PREFIX="$build/run-prefix"
"$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll"
source "$here/wine-env.sh"
program=$(timeout 10 winepath -w "$build/bin/Corvane.exe")

if [ -n "${DISPLAY:-}" ]; then
    exec wine "$program"
fi

source "$here/xvfb.sh"
shot="$build/corvane-screenshot.png"
cleanup() {
    timeout 30 wineserver -k 2>/dev/null || true
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
# Wine's own desktop draws the window frame, which a bare X server without a window manager does not.
timeout 120 wine explorer /desktop=Corvane,1024x768 "$program" >/dev/null 2>&1 &
for i in $(seq 1 60); do
    if xdotool search --name '^Corvane$' >/dev/null 2>&1; then break; fi
    sleep 0.5
done
sleep 2
import -window root -crop 1024x768+0+0 +repage "$shot"
echo "No display here: Corvane ran on a virtual display. Screenshot: $shot"
