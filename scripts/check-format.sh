#!/usr/bin/env bash
# Checks that every C++ file of the repository (*.cpp, *.h; scripts/source-files.sh says which)
# is laid out as the formatter lays it out (.clang-format at the top). Lists the files that are
# not and prints the command that formats them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || {
    echo "check-format: clang-format is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
}

source "$root/scripts/source-files.sh"
list=$(source_files_command '*.cpp' '*.h')
mapfile -t files < <(source_files '*.cpp' '*.h')

# One run over all files: each unformatted one gives "FILE:LINE:COL: error: code should be
# clang-formatted"; anything else that fails (a broken .clang-format, say) is shown as it came.
status=0
report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1 >/dev/null) || status=$?
mapfile -t unformatted < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' <<<"$report" |
    sort -u)
if [ $status != 0 ] && [ ${#unformatted[@]} = 0 ]; then
    echo "check-format: clang-format failed (exit status $status):" >&2
    echo "$report" >&2
    exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "check-format: ${#unformatted[@]} file(s) not laid out as .clang-format says:" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    echo "Format them from $root with:" >&2
    echo "  $list | xargs clang-format -i" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
