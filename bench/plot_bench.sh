#!/usr/bin/env bash
# The workspace plot with large networks: the time to open a generated campaign network in
# `torvek-front serve` and to zoom and pan its plot, in headless Chromium:
#   bash bench/plot_bench.sh BUILD-DIR [--front OTHER-TORVEK-FRONT] SITES...
#   e.g. bash bench/plot_bench.sh build 3000 10000
# --front measures another torvek-front (say, one built before a change to front/web/) on the same
# networks, made by BUILD-DIR's torvek-make-network --sessions. Needs the browser tests' driver
# (tools/browser_tests.sh installs it). A benchmark, not a test: it checks nothing.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,8p' "$0" >&2; exit 1; }
build=$(realpath "$1")
shift
front=$build/torvek-front
if [ "$1" = --front ]; then
    front=$(realpath "$2")
    shift 2
fi
cd "$(dirname "$0")"
node plot_bench.mjs "$front" "$build/torvek-make-network" "$@"
