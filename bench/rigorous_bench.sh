#!/usr/bin/env bash
# The rigorous model's cost against the classic model in torvek-large, whole-process wall time and
# peak memory, the two runs interleaved ROUNDS times (default 3), medians printed:
#   bash bench/rigorous_bench.sh BUILD-DIR SITES|DATA-SET...
#   e.g. bash bench/rigorous_bench.sh build 100000 national.dat
# A number generates a campaign network of that many sites (torvek-make-network --sessions); a
# data set is run as it is. The run is a benchmark, not a test: times on a shared machine are
# upper bounds, and the script checks nothing.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,8p' "$0" >&2; exit 1; }
build=$(realpath "$1")
shift
rounds=${ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() {
    python3 -c 'import statistics, sys; v = [float(x) for x in sys.argv[1:]]; print("%.2f" % statistics.median(v))' "$@"
}

for network in "$@"; do
    if [[ "$network" =~ ^[0-9]+$ ]]; then
        "$build/torvek-make-network" --sessions "$work/in.dat" "$network" >/dev/null
        input=$work/in.dat
    else
        input=$(realpath "$network")
    fi
    declare -A times=() memory=()
    for ((round = 0; round < rounds; round++)); do
        for model in classic rigorous; do
            /usr/bin/time -f "%e %M" -o "$work/time" \
                "$build/torvek-large" --model "$model" "$input" "$work/out.dat" >/dev/null
            read -r seconds kilobytes <"$work/time"
            times[$model]="${times[$model]:-} $seconds"
            memory[$model]=$(( kilobytes > ${memory[$model]:-0} ? kilobytes : ${memory[$model]:-0} ))
            rm -f "$work/out.dat"
        done
    done
    classic=$(median ${times[classic]})
    rigorous=$(median ${times[rigorous]})
    ratio=$(python3 -c "print('%.2f' % ($rigorous / $classic))")
    echo "$network: classic $classic s, $(( memory[classic] / 1024 )) MB; rigorous $rigorous s," \
        "$(( memory[rigorous] / 1024 )) MB; ratio $ratio (runs:${times[classic]} |${times[rigorous]})"
    unset times memory
done
