# Sourced by the checks that compare what a change writes with what registering writes
# (scripts/test-reg-import.sh, scripts/test-msi-export.sh), after they set here (this folder),
# work_name (their folder in the build) and fresh_prefixes (the names of the prefixes they make).
# Reads their arguments, BUILD [--in-this-prefix], into
#   build           the build folder, whose bin/ holds the programs and capturelib.tlb
#   in_this_prefix  1: the 64-bit prefix whose session runs (both registry views); 0: fresh ones
#   work            their folder for prefixes and snapshots, emptied here
# They set branches, the keys a snapshot reads, before each snapshot.
build=$(readlink -f "${1:-build}")
in_this_prefix=$([ "${2:-}" = --in-this-prefix ] && echo 1 || echo 0)
work="$build/$work_name$([ $in_this_prefix = 1 ] && echo 64 || true)"
rm -rf "$work"
mkdir -p "$work"
source "$here/wine-session.sh"

# Creates a fresh prefix named $1 under $work and makes it the one Wine uses from now on.
use_fresh_prefix() {
    export CORVANE_PREFIX="$work/$1"
    FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll" >/dev/null
    source "$here/wine-env.sh"
    # One wineserver for the prefix's whole use, as in the test session.
    keep_wineserver
}

end_prefix() {
    timeout 30 wineserver -k 2>/dev/null || true
}

if [ $in_this_prefix = 1 ]; then
    # The session's prefix and wineserver are the caller's: they stay when the check ends.
    source "$here/wine-env.sh"
else
    # The fresh prefixes take over a gigabyte; the snapshots stay for a look.
    clean_up() {
        end_prefix
        local name
        for name in "${fresh_prefixes[@]}"; do rm -rf "${work:?}/$name"; done
    }
    trap clean_up EXIT
fi

# Appends reg query of the key $1 (and the view option $2, if any) to the file $3. A query that
# fails or times out fails the snapshot, saying why: a partial snapshot would compare as changes.
# A query that fails is tried twice more first: on a busy machine, reg query of HKCU\Software in
# a freshly booted 64-bit prefix once failed with exit status 1 and passed on the next run.
query_into() {
    local wine status attempt
    wine=$([ $in_this_prefix = 1 ] && echo "$WINE64" || echo wine)
    for attempt in 1 2 3; do
        status=0
        timeout 120 "$wine" reg query "$1" /s ${2:+"$2"} >"$work/query.txt" 2>"$work/query-errors.txt" </dev/null ||
            status=$?
        [ $status = 0 ] || [ $status = 124 ] || [ $attempt = 3 ] || {
            echo "reg query $1 /s${2:+ $2} failed (exit status $status), trying again" >&2
            sleep 1
            continue
        }
        break
    done
    if [ $status = 124 ]; then
        echo "FAIL: reg query $1 /s${2:+ $2} did not finish within 120 seconds; the snapshot would be partial" >&2
        return 1
    elif [ $status != 0 ]; then
        echo "FAIL: reg query $1 /s${2:+ $2} failed (exit status $status), three times:" >&2
        tr -d '\r' <"$work/query-errors.txt" | tail -5 | sed 's/^/    /' >&2
        return 1
    fi
    tr -d '\r' <"$work/query.txt" >>"$3"
}

# Writes into the file $1 what the branches hold (both views of HKCR in the 64-bit prefix).
snapshot() {
    local key view
    : >"$1"
    for key in "${branches[@]}"; do
        if [ $in_this_prefix = 1 ] && [[ $key == HKCR* ]]; then
            for view in 64 32; do query_into "$key" "/reg:$view" "$1" || return 1; done
        else
            query_into "$key" "" "$1" || return 1
        fi
    done
}

# The lines that the function named $1 (with its arguments) adds to or removes from the current
# prefix's registry. Called inside $( ): every failure returns at once, errexit does not hold there.
changes_made_by() {
    snapshot "$work/before.txt" || return 1
    "$@" </dev/null >/dev/null
    snapshot "$work/after.txt" || return 1
    diff "$work/before.txt" "$work/after.txt" | grep '^[<>]' || true
}

# The library's Windows path, in the prefix now in use.
name_library() {
    library=$(timeout 10 winepath -w "$build/bin/capturelib.tlb")
}

# Ends the line of a PASS with the prefix it held in, when that is the 64-bit one.
where() {
    [ $in_this_prefix = 1 ] && echo ' (64-bit prefix, both views)' || true
}
