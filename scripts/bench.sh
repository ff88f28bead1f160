#!/usr/bin/env bash
# Runs the benchmarks (never part of 'make test'): a fresh Wine prefix of their own with our
# component registered, a virtual display, one wineserver for the run. Prints the machine,
# the Wine version and the figures, and keeps a copy in <build>/bench-results.txt.
# Extra arguments: the number of runs per figure (at least 10; default 15), and the groups to
# measure as one argument, such as "facts trips" (of start-up, facts, trips, list, damaged,
# repairs and types; all by default).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-build}")
runs="${2:-15}"

export CORVANE_PREFIX="$build/bench-prefix"
FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll"
source "$here/wine-env.sh"
source "$here/wine-session.sh"
start_wine_session

results="$build/bench-results.txt"
{
    echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
    echo "wine: $(wine --version)"
    echo
    timeout 2400 wine "$build/bin/corvane_bench.exe" "$runs" ${3:+"$3"} </dev/null
} 2>&1 | tr -d '\r' | tee "$results"
