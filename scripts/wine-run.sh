#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix, with a time limit, so that no
# test can hang on a stray dialog. ctest calls every test program through this script.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
exec timeout -k 5 "${CORVANE_TIMEOUT:-300}" wine "$@"
