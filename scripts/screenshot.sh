#!/usr/bin/env bash
# Makes the README's screenshot, docs/corvane-main-window.png: Corvane inside Wine's own
# desktop (which draws the window frame) on a virtual display, in a fresh prefix with our
# component registered, showing stdole2.tlb chosen through ".." and the open dialog.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(readlink -f "${1:-build}")
shot="$root/docs/corvane-main-window.png"

export CORVANE_PREFIX="$build/shot-prefix"
FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll"
source "$here/wine-env.sh"
source "$here/wine-session.sh"
start_wine_session

rect="$build/screenshot-rect.txt"
rm -f "$rect"
corvane=$(timeout 10 winepath -w "$build/bin/Corvane.exe")
# Programs started by the desktop's explorer run on that desktop; the helper starts Corvane
# there, chooses the library and writes the main window's rectangle.
timeout 120 wine explorer /desktop=shot,1024x768 "$(timeout 10 winepath -w "$build/bin/showlibrary.exe")" \
    "$corvane" 'C:\windows\system32\stdole2.tlb' "$(timeout 10 winepath -w "$rect")" \
    >/dev/null 2>&1 </dev/null &
for i in $(seq 1 120); do
    [ -s "$rect" ] && break
    sleep 0.5
done
[ -s "$rect" ] || { echo "Corvane did not show the library" >&2; exit 1; }
sleep 1
read -r x y w h < <(tr -d '\r' < "$rect")
# The desktop window sits at the screen's top-left corner; keep the main window and a margin.
margin=12
mkdir -p "$root/docs"
import -window root -crop "$((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin))" +repage "$shot"
echo "Screenshot: $shot"
