#!/usr/bin/env bash
# Builds a release tree in build-rel/ and runs the benchmarks (solver, equation forming, data set
# input/output, whole runs on generated networks up to 500 sites). Extra arguments go to the
# benchmark runner, e.g. --benchmark_filter=wholeRun.
# To keep a generated network: build-rel/torvek-make-network net.dat 500 3000
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVEK_TESTS=OFF >/dev/null
cmake --build build-rel -j"$(nproc)"
exec build-rel/torvek_bench "$@"
