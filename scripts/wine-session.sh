# Sourced after wine-env.sh: start_wine_session starts a virtual display and one wineserver
# kept alive for the whole session, and ends both when the calling script exits.
here_session=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here_session/xvfb.sh"

end_wine_session() {
    timeout 30 wineserver -k 2>/dev/null || true
    stop_xvfb
}

# Waits for the prefix's earlier wineserver to end, then starts one that stays for the session.
# Fails, saying why, when the earlier one does not end within 30 seconds or the new one does not start.
keep_wineserver() {
    local status=0
    timeout 30 wineserver -w || status=$?
    if [ $status = 124 ]; then
        echo "wine-session: the wineserver of $WINEPREFIX did not end within 30 seconds (wineserver -w timed out)" >&2
        return 1
    elif [ $status != 0 ]; then
        echo "wine-session: waiting for the wineserver of $WINEPREFIX failed (wineserver -w exit status $status)" >&2
        return 1
    fi
    wineserver -p || {
        echo "wine-session: no persistent wineserver for $WINEPREFIX (wineserver -p exit status $?)" >&2
        return 1
    }
}

start_wine_session() {
    trap end_wine_session EXIT
    start_xvfb
    keep_wineserver
    # Start Wine's background processes now, detached from our output pipes: a program started
    # later would otherwise pass them its pipes, and a caller such as ctest would wait for them
    # to close.
    timeout 60 wine wineboot >/dev/null 2>&1 </dev/null
}
