#!/usr/bin/env bash
# Runs every test through ctest: a fresh Wine prefix with our component registered, a virtual
# display for the window tests, and one wineserver kept alive for the whole run. A whole run
# then runs the tests labelled wow64 again in a fresh 64-bit prefix, where our 32-bit programs
# run under WOW64 as on 64-bit Windows.
#   scripts/test.sh BUILD [ctest arguments]           the 32-bit prefix; all tests, or those asked
#   scripts/test.sh BUILD --wow64 [ctest arguments]   the 64-bit prefix only; the wow64 label
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-build}")
shift || true
wow64_only=0
if [ "${1:-}" = --wow64 ]; then
    wow64_only=1
    shift
fi
whole_run=$([ $# -eq 0 ] && echo 1 || echo 0)

# A whole run first checks the source tree (layout, include directions): both cheap, before any
# prefix is made. Subset runs (any extra argument) skip them, so that work in progress elsewhere
# in the tree does not block testing one part.
if [ $whole_run = 1 ] && [ $wow64_only = 0 ]; then
    bash "$here/check-format.sh"
    bash "$here/check-includes.sh"
fi

# A disk with no room left, for the tests of output that cannot be written whole: a small memory
# file system, mounted where this run may mount one (as root) and named to the tests by
# CORVANE_SMALL_DISK; without one, those tests say why they skip.
small_disk="$build/small-disk"
mkdir -p "$small_disk"
if mountpoint -q "$small_disk" || mount -t tmpfs -o size=256k corvane-small-disk "$small_disk" 2>/dev/null; then
    export CORVANE_SMALL_DISK="$small_disk"
fi
release_small_disk() {
    if mountpoint -q "$small_disk"; then umount "$small_disk" || echo "test.sh: cannot unmount $small_disk" >&2; fi
}
trap release_small_disk EXIT

# Makes the prefix named $1 with our component registered, and starts its session.
start_prefix() {
    export CORVANE_PREFIX="$build/$1"
    FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll"
    source "$here/wine-env.sh"
    source "$here/wine-session.sh"
    start_wine_session
    trap 'end_wine_session; release_small_disk' EXIT
    echo "Testing in prefix $WINEPREFIX ($WINEARCH) on display $DISPLAY"
}

if [ $wow64_only = 0 ]; then
    start_prefix test-prefix
    ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
    end_wine_session
    # A whole run ends with the captured .reg file and the exported MSI checked against a real
    # registration, each in fresh prefixes of their own. Not inside ctest: the test prefix would
    # sit idle for so long that Wine ends its desktop process, and the next test program would
    # start it again holding that program's output pipes, which then never close.
    if [ $whole_run = 1 ]; then
        bash "$here/test-reg-import.sh" "$build"
        bash "$here/test-msi-export.sh" "$build"
    fi
fi

if [ $wow64_only = 1 ] || [ $whole_run = 1 ]; then
    export CORVANE_WINEARCH=win64
    start_prefix test-prefix64
    # The import checks first, while the fresh prefix holds nothing of the tests.
    if [ $# -eq 0 ]; then
        bash "$here/test-reg-import.sh" "$build" --in-this-prefix
        bash "$here/test-msi-export.sh" "$build" --in-this-prefix
    fi
    ctest --test-dir "$build" --output-on-failure --timeout 600 -L wow64 "$@"
fi
