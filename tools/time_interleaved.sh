#!/usr/bin/env bash
# Times whole commands side by side: ROUNDS rounds of hyperfine, each running every command a few
# times, so that a change in the machine's load falls on all commands alike. Prints per command the
# median and mean wall time over all runs and the median's ratio to the first command's.
#   bash tools/time_interleaved.sh ROUNDS 'COMMAND A' 'COMMAND B' ...
# Example: bash tools/time_interleaved.sh 20 'build/torvek net.dat out.dat' 'other net.xml out.xml'
set -euo pipefail
rounds=$1
shift
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((round = 1; round <= rounds; ++round)); do
    # Its warnings about outliers, expected on a shared machine, are shown only when it fails.
    if ! hyperfine -N --warmup 1 --runs 3 --style none --export-json "$work/round-$round.json" \
        "$@" >/dev/null 2>"$work/errors"; then
        cat "$work/errors" >&2
        exit 1
    fi
done
python3 - "$work" "$@" <<'EOF'
import glob, json, statistics, sys
work, commands = sys.argv[1], sys.argv[2:]
times = {c: [] for c in commands}
for path in glob.glob(work + "/round-*.json"):
    for result in json.load(open(path))["results"]:
        times[result["command"]].extend(result["times"])
first = statistics.median(times[commands[0]])
for c in commands:
    t = times[c]
    print(f"{statistics.median(t) * 1000:8.1f} ms median {statistics.mean(t) * 1000:8.1f} ms mean"
          f" {len(t):4d} runs  {statistics.median(t) / first:6.3f} x  {c}")
EOF
