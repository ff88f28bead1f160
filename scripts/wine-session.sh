# Sourced after wine-env.sh: start_wine_session starts a virtual display and one wineserver
# kept alive for the whole session, and ends both when the calling script exits.
here_session=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here_session/xvfb.sh"

end_wine_session() {
    timeout 30 wineserver -k 2>/dev/null || true
    stop_xvfb
}

start_wine_session() {
    trap end_wine_session EXIT
    start_xvfb
    timeout 30 wineserver -w || true
    wineserver -p
    # Start Wine's background processes now, detached from our output pipes: a program started
    # later would otherwise pass them its pipes, and a caller such as ctest would wait for them
    # to close.
    timeout 60 wine wineboot >/dev/null 2>&1 </dev/null
}
