#!/usr/bin/env bash
# Installs what is missing, builds only the programs (torvek, torvek-large, torvek-front and the
# workspace's server torvek-front-serve: not the tests and benchmarks) and adjusts the bundled
# example network.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(torvek torvek-front torvek-front-serve)
if grep -q '^TORVEK_LARGE:BOOL=ON' build/CMakeCache.txt; then
    targets+=(torvek-large)
fi
cmake --build build -j"$(nproc)" --target "${targets[@]}"
mkdir -p out
build/torvek-front adjust examples/example-network.json -o out/example-network.dat
