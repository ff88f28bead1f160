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
source "$here/wine-session.sh"
start_wine_session
echo "Testing in prefix $WINEPREFIX on display $DISPLAY"
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"

# A whole run ends with the captured .reg file checked against a real registration, each in a
# fresh prefix of its own. Not inside ctest: the test prefix would sit idle for so long that Wine
# ends its desktop process, and the next test program would start it again holding that
# program's output pipes, which then never close.
if [ $# -eq 0 ]; then
    bash "$here/test-capture-import.sh" "$build"
fi
