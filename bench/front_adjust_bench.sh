#!/usr/bin/env bash
# What a person waits for: the whole `torvek-front adjust` against the bare program run on the
# same data set, whole-process wall time and peak memory, with the front end's phases (import,
# checks, run, results, documents, placing) from `adjust --timings` and the size of the documents:
#   bash bench/front_adjust_bench.sh BUILD-DIR [MODEL] SITES|DATA-SET|national...
#   e.g. bash bench/front_adjust_bench.sh build classic national 30000 100000
# MODEL is classic (default) or rigorous. A number generates a campaign network of that many sites
# (torvek-make-network --sessions); "national" is the national network of ../shared/realdata
# (torvek-make-national-network). The bare program is the one the front end chooses: torvek for
# the classic model up to 500 sites, torvek-large beyond and for the rigorous model. A benchmark,
# not a test: times on a shared machine are upper bounds, and the script checks nothing.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,11p' "$0" >&2; exit 1; }
build=$(realpath "$1")
shift
model=classic
if [ "$1" = classic ] || [ "$1" = rigorous ]; then
    model=$1
    shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for network in "$@"; do
    input=$work/in.dat
    if [[ "$network" =~ ^[0-9]+$ ]]; then
        "$build/torvek-make-network" --sessions "$input" "$network" >/dev/null
    elif [ "$network" = national ]; then
        "$build/torvek-make-national-network" \
            "$root/../shared/realdata/sjtsk05-dopnul.gama-g3.xml" "$input" >/dev/null
    else
        cp "$network" "$input"
    fi
    mkdir -p "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/front.time" "$build/torvek-front" adjust "$input" \
        -o "$work/out/run.dat" --model "$model" --no-report --timings \
        >/dev/null 2>"$work/front.err" || true
    program=$(sed -n 's/^  \(torvek[-a-z]*\) peak resident memory.*/\1/p' "$work/front.err")
    args=()
    # The rigorous model's run writes its statistics file, as it does for the front end.
    [ "$program" = torvek-large ] && args=(--model "$model")
    [ "$model" = rigorous ] && args+=(--statistics "$work/bare.statistics.json")
    /usr/bin/time -f "%e %M" -o "$work/bare.time" "$build/${program:-torvek}" "${args[@]}" \
        "$input" "$work/bare.dat" >/dev/null 2>&1 || true
    read -r frontSeconds frontKb <"$work/front.time"
    read -r bareSeconds bareKb <"$work/bare.time"
    documents=$(find "$work/out" -type f ! -name 'run.dat' ! -name '*.input.dat' -printf '%s\n' |
        awk '{s += $1} END {printf "%.1f", s / 1048576}')
    echo "== $network ($model model, ${program:-?})"
    printf '  whole torvek-front adjust %8.2f s %8.0f MB peak (the front end and its child)\n' \
        "$frontSeconds" "$(echo "$frontKb / 1024" | bc -l)"
    printf '  bare %-20s %8.2f s %8.0f MB peak\n' "${program:-?}" "$bareSeconds" \
        "$(echo "$bareKb / 1024" | bc -l)"
    printf '  ratio %.1fx; documents %s MB\n' "$(echo "$frontSeconds / $bareSeconds" | bc -l)" \
        "$documents"
    sed -n '/phase times/,$p' "$work/front.err"
    rm -rf "$work/out" "$work/bare.dat" "$work/bare.statistics.json" "$input"
done
