#!/usr/bin/env bash
# Creates the Wine prefix in $CORVANE_PREFIX if it does not exist yet (FRESH=1: always anew)
# and registers our TypeLib Information component (the DLL given as $1) in it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
component=$(readlink -f "$1")

if [ "${FRESH:-0}" = 1 ] && [ -d "$WINEPREFIX" ]; then
    timeout 30 wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    boot_prefix >/dev/null 2>&1
    timeout 60 wineserver -w
    # The title bar's buttons are drawn with Wine's Marlett font, which this Wine build does
    # not find in its own data folder; in the prefix's font folder it does.
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
fi
timeout 60 wine "$SYSTEM32\\regsvr32.exe" /s "$(timeout 10 winepath -w "$component")"
