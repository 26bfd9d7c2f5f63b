#!/usr/bin/env bash
# Installs what the build, the tests and the front end need, when it is missing.
set -euo pipefail
# The front end's grid coordinates need PROJ (libproj-dev); its tests check them with cs2cs
# (proj-bin), open its GIS files with ogrinfo (gdal-bin) and its RTF in LibreOffice, reading the
# PDF back with pdftotext (libreoffice-writer-nogui, poppler-utils). torvek-large factorises with
# SuiteSparse's CHOLMOD (libsuitesparse-dev) on an optimised BLAS (libopenblas0-pthread, which
# takes the place of the reference BLAS; docs/large-engine.md has the times). The browser workspace serves with cpp-httplib
# (libcpp-httplib-dev, found through pkg-config); its tests drive chromium from Node (nodejs, npm;
# tests/browser installs its own driver). torvek-front parses its command line with CLI11
# (libcli11-dev) and reads the rigorous model's statistics with simdjson (libsimdjson-dev).
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          libsuitesparse-dev libopenblas0-pthread
          nlohmann-json3-dev libpugixml-dev libproj-dev proj-bin gdal-bin libreoffice-writer-nogui
          poppler-utils pkg-config libcpp-httplib-dev libcli11-dev libsimdjson-dev chromium nodejs)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" </dev/null
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "installing: npm"
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq npm </dev/null
fi
