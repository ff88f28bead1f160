#!/usr/bin/env bash
# The .reg file of a captured registration, imported with regedit into a fresh prefix, adds
# exactly what a real registration of the same library adds in another fresh prefix: the same
# lines in `reg query HKCR /s` and nothing under HKCU\Software. scripts/test.sh runs it after
# ctest (see there why not inside it); it needs the build's binaries and no display.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-build}")
work="$build/capture-import"
rm -rf "$work"
mkdir -p "$work"

# Creates a fresh prefix named $1 under $work and makes it the one Wine uses from now on.
use_fresh_prefix() {
    export CORVANE_PREFIX="$work/$1"
    FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll" >/dev/null
    source "$here/wine-env.sh"
    # One wineserver for the prefix's whole use, as in the test session.
    timeout 30 wineserver -w || true
    wineserver -p
}

end_prefix() {
    timeout 30 wineserver -k 2>/dev/null || true
}
# The two prefixes take over a gigabyte; the snapshots and the .reg file stay for a look.
clean_up() {
    end_prefix
    rm -rf "$work/registered" "$work/imported"
}
trap clean_up EXIT

snapshot() {
    { timeout 120 wine reg query 'HKCR' /s; timeout 60 wine reg query 'HKCU\Software' /s; } 2>/dev/null | tr -d '\r'
}

# The lines that the function named $1 adds to or removes from the current prefix's registry.
changes_made_by() {
    snapshot >"$work/before.txt"
    "$1" </dev/null >/dev/null
    snapshot >"$work/after.txt"
    diff "$work/before.txt" "$work/after.txt" | grep '^[<>]' || true
}

register_library() {
    timeout 60 wine "$build/bin/corvane-cli.exe" register "$library"
}

import_capture() {
    timeout 60 wine "$build/bin/corvane-cli.exe" export "$library" -o "$regfile"
    timeout 60 wine regedit /s "$regfile"
}

use_fresh_prefix registered
library=$(timeout 10 winepath -w "$build/bin/capturelib.tlb")
registered=$(changes_made_by register_library)
end_prefix

use_fresh_prefix imported
regfile=$(timeout 10 winepath -w "$work/capture.reg")
imported=$(changes_made_by import_capture)
end_prefix

if [ -z "$registered" ] || ! grep -q 'Interface' <<<"$registered"; then
    echo "FAIL: registration added no Interface keys:"
    echo "$registered"
    exit 1
fi
if [ "$registered" != "$imported" ]; then
    echo "FAIL: importing the captured .reg file differs from registering:"
    diff <(echo "$registered") <(echo "$imported") || true
    exit 1
fi
echo "PASS: the imported .reg file adds the same $(wc -l <<<"$registered") lines as registering"
