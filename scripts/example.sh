#!/usr/bin/env bash
# Installs what is needed, builds the programs and runs the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${SV_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSV_BUILD_TESTS=OFF
cmake --build "$build" -j"$(nproc)"
echo "The example job is not set up yet."
