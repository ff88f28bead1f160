#!/usr/bin/env bash
# Runs every test through ctest: a fresh Wine prefix with our component registered, a virtual
# display for the window tests, and one wineserver kept alive for the whole run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-build}")
shift || true

export CORVANE_PREFIX="$build/test-prefix"
FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll"
source "$here/wine-env.sh"
source "$here/xvfb.sh"

cleanup() {
    timeout 30 wineserver -k 2>/dev/null || true
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
timeout 30 wineserver -w || true
wineserver -p
# Start Wine's background processes now, detached from ctest's output pipes: a test program
# started later would otherwise pass them its pipes, and ctest would wait for them to close.
timeout 60 wine wineboot >/dev/null 2>&1 </dev/null
echo "Testing in prefix $WINEPREFIX on display $DISPLAY"
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
