#!/usr/bin/env bash
# Runs a build of the program over the examples and generated networks and keeps every output data
# set and frame transcript in a folder, so that two builds can be compared byte for byte:
#   bash tools/compare_runs.sh record BUILD-DIR FOLDER      # run BUILD-DIR/torvek, keep results
#   bash tools/compare_runs.sh diff FOLDER-A/out FOLDER-B/out   # 0 when every run is identical
# BUILD-DIR needs torvek, torvek-front and torvek-make-network. Two runs need a build that has
# torvek-make-national-network: the network whose sites are all weighted and the national network
# (when ../shared/realdata is beside the project). To record an older build with them too, copy
# weighted-500-1479.dat and national.dat from a newer recording into FOLDER/inputs first.
#
# diff compares the runs by name. A run whose input only one side has (a network added to the
# script after the other side was recorded) is listed as not compared; every other run must give
# the same output data set and the same frames on both sides.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=$1
if [ "$mode" = diff ]; then
    a=${2%/} b=${3%/}
    status=0 skipped=()
    for run in $( (ls "$a"; ls "$b") | sed -n 's/\.\(dat\|frames\)$//p' | sort -u); do
        if [ -d "$a/../inputs" ] && [ -d "$b/../inputs" ] &&
            { [ ! -e "$a/../inputs/$run.dat" ] || [ ! -e "$b/../inputs/$run.dat" ]; }; then
            skipped+=("$run")
            continue
        fi
        for kind in dat frames; do
            if ! cmp -s "$a/$run.$kind" "$b/$run.$kind"; then
                echo "differ: $run.$kind"
                status=1
            fi
        done
    done
    [ "$status" = 0 ] && echo "identical"
    [ ${#skipped[@]} = 0 ] || echo "not compared (input on one side only): ${skipped[*]}"
    exit "$status"
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
if [ -x "$build/torvek-make-national-network" ]; then
    # Every site also weighted at 2 mm: the inverse of the factor passes below the smallest float.
    "$build/torvek-make-network" "$inputs/weighted-500-1479.dat" 500 1479 1 0.002 >/dev/null 2>&1
    national=../shared/realdata/sjtsk05-dopnul.gama-g3.xml
    if [ -e "$national" ]; then
        "$build/torvek-make-national-network" "$national" "$inputs/national.dat" >/dev/null 2>&1
    fi
fi
for input in "$inputs"/*.dat; do
    name=$(basename "$input" .dat)
    rm -f "$folder/out/$name.dat"
    python3 tools/capture_run.py "$build/torvek" "$input" "$folder/out/$name.dat" \
        "$folder/out/$name.frames"
done
echo "recorded $(ls "$inputs"/*.dat | wc -l) runs in $folder/out"
