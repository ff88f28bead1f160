#!/usr/bin/env bash
# Checks the directions of the includes: each folder includes only the folders (or headers) its
# row of the table below allows. Reads the #include "..." lines of the C++ and resource files
# (scripts/source-files.sh says which); builds nothing. A name without a folder is the header
# beside the file or else one the build generates (generated/version.h).
#
# Tests (tests/ and every */tests/) include what they need, but nothing else includes tests/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source "$root/scripts/source-files.sh"

# A file's row is the longest entry of the first column that starts its path. The second column
# names what it may include: a folder (ending in /) or one header; "-" for nothing of ours.
rules='
common/             common/
reader/             common/ reader/
reader/child/       common/owners.h common/text.h common/token.h reader/protocol.h reader/content.h reader/child/
tlinfo/tlinfo.h     -
tlinfo/component/   tlinfo/ reader/ common/
catalogue/          reader/ common/ tlinfo/tlinfo.h catalogue/
registration/       catalogue/ reader/ common/ tlinfo/tlinfo.h registration/
app/                registration/ catalogue/ reader/ common/ tlinfo/tlinfo.h app/ resources/
cli/                registration/ catalogue/ reader/ common/ cli/ generated/
resources/          app/weblink.h generated/
bench/              app/ registration/ catalogue/ reader/ common/ tlinfo/tlinfo.h cli/cli.h tests/support/
'

is_test() { [[ $1 == tests/* || $1 == */tests/* ]]; }

# The row of the file $1 (its first column, then what it allows), or nothing when no row holds it.
row_for() {
    awk -v file="$1" 'NF >= 2 && index(file, $1) == 1 && length($1) > best { best = length($1); row = $0 }
        END { print row }' <<<"$rules"
}

# Whether the include $2 is one of the entries $1.
permitted() {
    local entry
    for entry in $1; do
        [ "$entry" = - ] && return 1
        if [[ $entry == */ ]]; then [[ $2 == "$entry"* ]] && return 0; else [ "$2" = "$entry" ] && return 0; fi
    done
    return 1
}

violations=0
while IFS= read -r file; do
    is_test "$file" && continue
    read -r folder allowed <<<"$(row_for "$file")"
    if [ -z "$allowed" ]; then
        echo "check-includes: $file: no row of the table in scripts/check-includes.sh holds it" >&2
        violations=$((violations + 1))
        continue
    fi
    while IFS= read -r included; do
        if [[ $included != */* ]]; then
            beside="$(dirname "$file")/$included"
            included=$([ -f "$beside" ] && echo "$beside" || echo "generated/$included")
        fi
        permitted "$allowed" "$included" && continue
        echo "check-includes: $file includes $included; $folder may include $([ "$allowed" = - ] &&
            echo 'nothing of ours' || echo "only: $allowed")" >&2
        violations=$((violations + 1))
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(source_files '*.cpp' '*.h' '*.rc')

if [ $violations -gt 0 ]; then
    echo "check-includes: $violations include(s) against the directions" >&2
    exit 1
fi
echo "check-includes: every include goes where its folder may"
