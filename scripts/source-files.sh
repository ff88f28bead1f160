# Sourced by the checks of the source tree, run from the top of the repository.
# source_files GLOB... lists the files whose names match: those git tracks (and the working tree
# still holds) or, outside a git checkout, every one below the top but the build folders.
# source_files_command GLOB... prints the command that lists them, for a message to run it.
in_git_checkout() { git rev-parse --is-inside-work-tree >/dev/null 2>&1; }
source_files_command() {
    local glob quoted=() tests=()
    for glob in "$@"; do quoted+=("'$glob'") tests+=(${tests[0]+-o} -name "'$glob'"); done
    if in_git_checkout; then
        echo "git ls-files ${quoted[*]}"
    else
        echo "find . -name 'build*' -prune -o \\( ${tests[*]} \\) -print"
    fi
}
source_files() {
    local glob tests=() f
    if in_git_checkout; then
        git ls-files "$@" | while IFS= read -r f; do [ -f "$f" ] && echo "$f"; done
    else
        for glob in "$@"; do tests+=(${tests[0]+-o} -name "$glob"); done
        find . -name 'build*' -prune -o \( "${tests[@]}" \) -print | sed 's|^\./||'
    fi
}
