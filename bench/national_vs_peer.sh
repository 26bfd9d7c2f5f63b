#!/usr/bin/env bash
# torvek against GNU Gama's g3 program (the peer) on the national network, whole processes,
# interleaved: each round runs torvek once and the peer once, so that a change in the machine's
# load falls on both alike. Prints per program the medians of processor time (user + system, from
# the process's own accounting) and of wall time, and torvek's ratio to the peer:
#   bash bench/national_vs_peer.sh BUILD-DIR [ROUNDS]      # ROUNDS defaults to 30
# BUILD-DIR needs torvek and torvek-make-national-network. Environment: GAMA_G3 (the peer's
# program, default /tmp/gama-peer/build/gama-g3; bash ../shared/peer/build-gama.sh builds it).
# Without the peer or ../shared/realdata the script says so and exits 0. A benchmark, not a test:
# times on a shared machine are upper bounds, and it checks nothing.
set -euo pipefail
[ $# -ge 1 ] || { sed -n '2,10p' "$0" >&2; exit 1; }
build=$(realpath "$1")
rounds=${2:-30}
cd "$(dirname "$0")/.."
national=../shared/realdata/sjtsk05-dopnul.gama-g3.xml
peer=${GAMA_G3:-/tmp/gama-peer/build/gama-g3}
if [ ! -e "$national" ]; then
    echo "skipped: $national is not there"
    exit 0
fi
if [ ! -x "$peer" ]; then
    echo "skipped: the peer is not built (bash ../shared/peer/build-gama.sh, or set GAMA_G3)"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/torvek-make-national-network" "$national" "$work/national.dat" >/dev/null 2>&1

python3 - "$rounds" "$build/torvek" "$peer" "$national" "$work" <<'EOF'
import os, statistics, subprocess, sys, time

rounds, torvek, peer, national, work = int(sys.argv[1]), *sys.argv[2:]
commands = {
    "torvek": [torvek, work + "/national.dat", work + "/adjusted.dat"],
    "gama-g3": [peer, national, work + "/adjusted.xml"],
}

def run(argv):
    """Processor seconds (user + system) and wall seconds of one whole process."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    return usage.ru_utime + usage.ru_stime, wall

for argv in commands.values():  # one untimed run each: the files in the system's cache
    run(argv)
cpu = {name: [] for name in commands}
wall = {name: [] for name in commands}
for _ in range(rounds):
    for name, argv in commands.items():
        c, w = run(argv)
        cpu[name].append(c)
        wall[name].append(w)
median = {name: (statistics.median(cpu[name]), statistics.median(wall[name])) for name in commands}
for name in commands:
    c, w = median[name]
    print(f"{name:8s} processor {c * 1000:7.2f} ms  wall {w * 1000:7.2f} ms  (medians of {rounds})")
(tc, tw), (pc, pw) = median["torvek"], median["gama-g3"]
print(f"ratio    processor {tc / pc:7.3f} x   wall {tw / pw:7.3f} x")
EOF
