#!/usr/bin/env bash
# Builds Veltrad and shows its main job on a sample image made on the spot:
# the frames a download would send.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build gui
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > build/configure.log 2>&1 || { cat build/configure.log; exit 1; }
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target veltrad-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 256 zero bytes, then 1000 bytes of data: the zero blocks at the start are not sent.
{ head -c 256 /dev/zero; head -c 1000 /dev/urandom | tr '\000' '\001'; } > "$work/sample.bin"
build/bin/veltrad-cli frames "$work/sample.bin"
