#!/usr/bin/env bash
# torvek-large side by side with GNU Gama's g3 program (the peer) on large networks:
#   bash tools/compare_with_peer.sh BUILD-DIR SITES|NETWORK.xml...
#   e.g. bash tools/compare_with_peer.sh build 3000 10000
#        COVARIANCE_UNIT=m2 bash tools/compare_with_peer.sh build sjtsk05-dopnul.gama-g3.xml
# A number generates a campaign network of that many sites (torvek-make-network --sessions) with
# the datum bias parameters held (sigma 0.001), writes it for the peer (tools/write_gama_g3.py) and
# runs torvek-large and the peer on it. A gama-g3 file is run as it is: `torvek-front adjust FILE
# --engine large` against the peer on the same file, then the peer once more on the file as
# torvek weighs it (torvek-front import, then write_gama_g3.py).
# Then, untimed, the peer once more with the datum bias values torvek estimated applied to the
# vectors (write_gama_g3.py --bias-from): the sigma 0.001 that holds them is a weighted constraint,
# which a large network's data pull off 0, so that only this run solves exactly torvek's problem.
# Each program runs ROUNDS times (default 3), interleaved, under /usr/bin/time (wall time, peak
# resident memory); the peer under a limit of PEER_TIME_LIMIT seconds (default 600). hyperfine, when
# installed, also times torvek-large alone. Prints one table row per network: the median wall time
# and the largest peak memory of each program, and the largest difference between their adjusted
# coordinates (tools/compare_peer_results.py), also against that last run. Environment: GAMA_G3 (the peer's program, default
# /tmp/gama-peer/build/gama-g3), COVARIANCE_UNIT (of gama-g3 files: mm2, the format's, or m2).
# Times are upper bounds on a shared machine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { sed -n '2,5p' "$0" >&2; exit 1; }
build=$(realpath "$1")
shift
peer=${GAMA_G3:-/tmp/gama-peer/build/gama-g3}
rounds=${ROUNDS:-3}
limit=${PEER_TIME_LIMIT:-600}
unit=${COVARIANCE_UNIT:-mm2}
[ -x "$peer" ] || { echo "the peer is not built: bash ../shared/peer/build-gama.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# timed LOG COMMAND...: appends "seconds kilobytes" of one run to LOG; returns the command's status.
timed() {
    local log=$1
    shift
    local status=0
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/run.out" 2>&1 || status=$?
    [ $status -ne 0 ] || tail -n 1 "$work/time" >>"$log"
    return $status
}

# summary LOG: "median s, largest peak MB" of the runs logged.
summary() {
    python3 - "$1" <<'EOF'
import statistics, sys
runs = [line.split() for line in open(sys.argv[1]) if line.strip()]
print("%.2f s, %.0f MB" % (statistics.median(float(r[0]) for r in runs),
                           max(int(r[1]) for r in runs) / 1024))
EOF
}

# side_by_side NAME TORVEK-COMMAND... -- PEER-INPUT: runs both ROUNDS times, interleaved.
side_by_side() {
    local name=$1
    shift
    local ours=()
    while [ "$1" != "--" ]; do ours+=("$1"); shift; done
    local peer_input=$2
    : >"$work/ours.log"
    : >"$work/peer.log"
    peer_status=0
    for ((round = 1; round <= rounds; ++round)); do
        timed "$work/ours.log" "${ours[@]}" || { echo "$name: torvek failed:" >&2; cat "$work/run.out" >&2; return 1; }
        if [ $peer_status -eq 0 ]; then
            timed "$work/peer.log" timeout "$limit" "$peer" "$peer_input" "$work/peer.xml" || peer_status=$?
        fi
    done
    ours_summary=$(summary "$work/ours.log")
    if [ $peer_status -eq 124 ]; then
        peer_summary="did not finish in $limit s"
    elif [ $peer_status -ne 0 ]; then
        peer_summary="failed (status $peer_status)"
    else
        peer_summary=$(summary "$work/peer.log")
    fi
}

counts() {  # RESULTS.json: "sites | vectors" in use
    python3 - "$1" <<'EOF'
import json, sys
p = json.load(open(sys.argv[1]))
print("%d | %d" % (sum(s.get("inUse", True) for s in p["sites"]),
                   sum(v.get("inUse", True) for v in p["vectors"])))
EOF
}

difference() {  # PEER.xml TORVEK.json: the largest 3D difference, or why there is none
    if [ $peer_status -ne 0 ]; then echo "-"; return; fi
    python3 "$here/compare_peer_results.py" "$1" "$2" >"$work/compare.out" || true
    cat "$work/compare.out" >&2
    sed -n 's/.*largest difference \([0-9.]*\) mm (3D).*/\1 mm/p' "$work/compare.out" | head -n 1
}

with_estimated_bias() {  # the largest difference when the peer applies torvek's bias estimates
    if [ $peer_status -ne 0 ]; then echo "-"; return; fi
    python3 "$here/write_gama_g3.py" "$work/net.json" "$work/biased.xml" --bias-from "$work/out.json"
    timeout "$limit" "$peer" "$work/biased.xml" "$work/peer.xml" >/dev/null 2>&1 || peer_status=$?
    difference "$work/peer.xml" "$work/out.json"
}

echo "| Network | Sites | Vectors | GNU Gama g3 | torvek-large | Largest difference |"
echo "|---|---|---|---|---|---|"
for network in "$@"; do
    if [[ "$network" =~ ^[0-9]+$ ]]; then
        "$build/torvek-make-network" --sessions "$work/made.dat" "$network" >/dev/null
        "$build/torvek-front" export "$work/made.dat" -o "$work/made.json"
        # The peer has no datum bias parameters: hold torvek's (sigma 0.001, value 0).
        python3 - "$work/made.json" "$work/net.json" <<'EOF'
import json, sys
project = json.load(open(sys.argv[1]))
for bias in project["settings"]["datumBias"].values():
    bias.update(value=0.0, sigma=0.001)
json.dump(project, open(sys.argv[2], "w"))
EOF
        "$build/torvek-front" import "$work/net.json" "$work/net.dat" >/dev/null 2>&1
        python3 "$here/write_gama_g3.py" "$work/net.json" "$work/net.xml"
        side_by_side "$network" "$build/torvek-large" "$work/net.dat" "$work/out.dat" -- "$work/net.xml"
        if command -v hyperfine >/dev/null; then
            hyperfine -N --warmup 1 --runs 5 --style none --export-json "$work/hyperfine.json" \
                "$build/torvek-large $work/net.dat $work/out.dat" >/dev/null 2>&1
            python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))["results"][0]
print("torvek-large, hyperfine: %.3f s +- %.3f s" % (r["mean"], r["stddev"]))' \
                "$work/hyperfine.json" >&2
        fi
        "$build/torvek-front" export "$work/out.dat" -o "$work/out.json"
        held=$(difference "$work/peer.xml" "$work/out.json")
        echo "| $network sites, generated | $(counts "$work/out.json") | $peer_summary |" \
            "$ours_summary | $held; $(with_estimated_bias) with its bias estimates |"
    else
        file=$(realpath "$network")
        side_by_side "$network" "$build/torvek-front" adjust "$file" -o "$work/out.dat" \
            --covariance-unit "$unit" --engine large --no-report --warning-answer ok -- "$file"
        "$build/torvek-front" export "$work/out.dat" --json --names "$file" \
            --covariance-unit "$unit" -o "$work/out.json"
        # The project in the form write_gama_g3.py reads: the data set the import makes, exported.
        "$build/torvek-front" import "$file" -o "$work/net.dat" --covariance-unit "$unit" \
            >/dev/null 2>&1
        "$build/torvek-front" export "$work/net.dat" --json --names "$file" \
            --covariance-unit "$unit" -o "$work/net.json"
        as_given=$(difference "$work/peer.xml" "$work/out.json")
        # The peer once more, with the weights torvek gives the vectors.
        if [ $peer_status -eq 0 ]; then
            python3 "$here/write_gama_g3.py" "$work/net.json" "$work/same.xml"
            timeout "$limit" "$peer" "$work/same.xml" "$work/peer.xml" >/dev/null 2>&1 || peer_status=$?
        fi
        weighted=$(difference "$work/peer.xml" "$work/out.json")
        echo "| $(basename "$file") | $(counts "$work/out.json") | $peer_summary |" \
            "$ours_summary | $as_given as given; $weighted with torvek's weights;" \
            "$(with_estimated_bias) with its bias estimates too |"
    fi
done
