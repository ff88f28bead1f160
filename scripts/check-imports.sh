#!/usr/bin/env bash
# Checks that each given Windows binary is a 32-bit image importing only DLLs that every
# Windows has: a release must not need the build machine's MinGW runtime or anything of Wine's.
set -euo pipefail
objdump=i686-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=objdump

# The system DLLs Corvane's binaries may import.
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll oleaut32.dll shell32.dll
 comdlg32.dll comctl32.dll shlwapi.dll version.dll msvcrt.dll "

status=0
for f in "$@"; do
    if [ ! -f "$f" ]; then
        echo "check-imports: $f: missing" >&2
        status=1
        continue
    fi
    dump=$("$objdump" -p "$f") || { echo "check-imports: $f: not a PE image" >&2; status=1; continue; }
    if ! grep -q 'file format pei-i386' <<<"$dump"; then
        echo "check-imports: $f: not a 32-bit image" >&2
        status=1
    fi
    imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump")
    for dll in $imports; do
        if [[ "$allowed" != *" $dll"[[:space:]]* ]]; then
            echo "check-imports: $f imports $dll, which is not a Windows system DLL" >&2
            status=1
        fi
    done
    # Of our programs only Corvane.exe shows windows: the console, the component and the reader
    # import no USER32.
    case "$(basename "$f")" in corvane-cli.exe | CorvaneTLInfo.dll | corvane-reader.exe) windowless=1 ;; *) windowless=0 ;; esac
    if [ "$windowless" = 1 ] && grep -qx user32.dll <<<"$imports"; then
        echo "check-imports: $f imports user32.dll, but only Corvane.exe has windows" >&2
        status=1
    fi
    echo "check-imports: $(basename "$f"): $(echo $imports)"
done
exit $status
