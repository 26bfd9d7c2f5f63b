#!/usr/bin/env bash
# Writes the generated networks of the whole-run benchmark into a folder (default out/networks):
# grids of 50 to 500 sites with 200 to 3000 vectors, the largest at the program's limits. Nothing
# large is kept in the repository; the benchmarks generate the same networks themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-out/networks}
bash tools/setup.sh
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVEK_TESTS=OFF >/dev/null
cmake --build build-rel -j"$(nproc)" --target torvek-make-network
mkdir -p "$folder"
for shape in "50 200" "100 600" "250 1500" "500 1500" "500 3000"; do
    set -- $shape
    build-rel/torvek-make-network "$folder/grid-$1-$2.dat" "$1" "$2"
done
# Every site also a weighted control point at 2 mm: the solver meets subnormal numbers.
build-rel/torvek-make-network "$folder/weighted-500-1479.dat" 500 1479 1 0.002
