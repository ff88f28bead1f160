#!/usr/bin/env bash
# The .reg file of a captured registration, imported with regedit into a fresh prefix, adds
# exactly what a real registration of the same library adds in another fresh prefix: the same
# lines in `reg query HKCR /s` and nothing under HKCU\Software. scripts/test.sh runs it after
# ctest (see there why not inside it); it needs the build's binaries and no display.
#
# With --in-this-prefix it runs in the 64-bit prefix whose session is running (scripts/test.sh
# makes one per run): there the .reg file is exported for 64-bit Windows and imported with the
# 64-bit regedit, and the lines compared are those of both registry views. Instead of a second
# fresh prefix, the registration is removed again and the registry must then be as it was, so
# that the import starts from the same fresh state.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work_name=capture-import
fresh_prefixes=(registered imported)
source "$here/registry-changes.sh"

branches=('HKCR' 'HKCU\Software')

register_library() {
    timeout 60 wine "$build/bin/corvane-cli.exe" register "$library"
}

import_capture() {
    timeout 60 wine "$build/bin/corvane-cli.exe" export "$library" -o "$regfile"
    timeout 60 wine regedit /s "$regfile"
}

unregister_library() {
    timeout 60 wine "$build/bin/corvane-cli.exe" unregister "$library" </dev/null >/dev/null
}

import_capture64() {
    timeout 60 wine "$build/bin/corvane-cli.exe" export "$library" --bitness 64 -o "$regfile"
    timeout 60 "$WINE64" regedit /s "$regfile"
}

if [ $in_this_prefix = 1 ]; then
    name_library
    regfile=$(timeout 10 winepath -w "$work/capture.reg")
    snapshot "$work/fresh.txt"
    registered=$(changes_made_by register_library)
    unregister_library
    snapshot "$work/removed.txt"
    if ! cmp -s "$work/fresh.txt" "$work/removed.txt"; then
        echo "FAIL: unregistering did not give back the fresh registry:"
        diff "$work/fresh.txt" "$work/removed.txt" | grep '^[<>]' | head -20
        exit 1
    fi
    imported=$(changes_made_by import_capture64)
    unregister_library
else
    use_fresh_prefix registered
    name_library
    registered=$(changes_made_by register_library)
    end_prefix

    use_fresh_prefix imported
    regfile=$(timeout 10 winepath -w "$work/capture.reg")
    imported=$(changes_made_by import_capture)
    end_prefix
fi

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
echo "PASS: the imported .reg file adds the same $(wc -l <<<"$registered") lines as registering$(where)"
