# Sourced: start_xvfb starts a virtual display on a free number, waits until it answers and
# exports DISPLAY; it fails, saying why, when the display does not answer within 10 seconds.
# stop_xvfb ends it.
start_xvfb() {
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    local log
    log=$(mktemp "${TMPDIR:-/tmp}/xvfb-$n.XXXXXX.log")
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$log" 2>&1 &
    XVFB_PID=$!
    local status deadline=$((SECONDS + 10))
    # Answering means a client can connect and read the screen, not only that the socket exists.
    while [ $SECONDS -lt $deadline ]; do
        if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
            rm -f "$log"
            export DISPLAY=":$n"
            return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$XVFB_PID" 2>/dev/null; then
        echo "xvfb: the virtual display :$n did not answer within 10 seconds; Xvfb said:" >&2
        stop_xvfb
    else
        wait "$XVFB_PID" 2>/dev/null && status=0 || status=$?
        echo "xvfb: Xvfb :$n ended at start (exit status $status); it said:" >&2
        XVFB_PID=""
    fi
    if [ -s "$log" ]; then sed 's/^/    /' "$log" >&2; else echo "    (nothing)" >&2; fi
    rm -f "$log"
    return 1
}
stop_xvfb() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
}
