#!/usr/bin/env bash
# Runs a build of the program over the examples and generated networks and keeps every output data
# set and frame transcript in a folder, so that two builds can be compared byte for byte:
#   bash tools/compare_runs.sh record BUILD-DIR FOLDER      # run BUILD-DIR/torvek, keep results
#   bash tools/compare_runs.sh diff FOLDER-A FOLDER-B        # 0 when every file is identical
# BUILD-DIR needs torvek, torvek-front and torvek-make-network. The national network is added
# when ../shared/realdata is beside the project and FOLDER/inputs holds its data set.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=$1
if [ "$mode" = diff ]; then
    diff -r "$2" "$3" >/dev/null && { echo "identical"; exit 0; }
    diff -rq "$2" "$3"
    exit 1
fi
build=$(realpath "$2")
folder=$3
inputs=$folder/inputs
mkdir -p "$folder/out" "$inputs"
for example in examples/*.json; do
    name=$(basename "$example" .json)
    "$build/torvek-front" import "$example" "$inputs/$name.dat" >/dev/null 2>&1 || true
done
for shape in "10 30" "50 200" "100 600" "250 1500" "500 1500" "500 3000"; do
    set -- $shape
    "$build/torvek-make-network" "$inputs/grid-$1-$2.dat" "$1" "$2" >/dev/null 2>&1
done
for input in "$inputs"/*.dat; do
    name=$(basename "$input" .dat)
    rm -f "$folder/out/$name.dat"
    python3 tools/capture_run.py "$build/torvek" "$input" "$folder/out/$name.dat" \
        "$folder/out/$name.frames"
done
echo "recorded $(ls "$inputs"/*.dat | wc -l) runs in $folder/out"
