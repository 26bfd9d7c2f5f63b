#!/usr/bin/env bash
# The large-network benchmark: generates campaign networks of the given sizes (default 3000 and
# 10000 sites) and runs torvek-large on each, printing the time and peak memory of every phase and
# the whole run's peak memory:
#   bash tools/bench_large.sh [BUILD-DIR [SITES...]]     e.g. bash tools/bench_large.sh build 30000 100000
# Networks go to a temporary folder that is removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(3000 10000)
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
for sites in "${sizes[@]}"; do
    "$build/torvek-make-network" --sessions "$folder/in.dat" "$sites"
    echo "== $sites sites"
    "$build/torvek-phase-times" "$build/torvek-large" "$folder/in.dat" "$folder/out.dat"
    /usr/bin/time -f "peak resident memory %M kB, %e s wall" \
        "$build/torvek-large" "$folder/in.dat" "$folder/out2.dat"
    rm -f "$folder"/*.dat
done
