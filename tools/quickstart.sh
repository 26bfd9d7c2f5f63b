#!/usr/bin/env bash
# Builds the program and adjusts the bundled example network.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
mkdir -p out
if [ -x build/torvek-front ] && [ -f examples/example-network.json ]; then
    build/torvek-front adjust examples/example-network.json -o out/example-network.dat
else
    echo "torvek-front is not built yet"; exit 1
fi
