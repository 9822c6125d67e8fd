#!/usr/bin/env bash
# Installs what is needed, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, then the reader fuzzer for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${SV_BUILD_DIR:-build-asan}
cmake -S . -B "$build" -DSV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
# The reader fuzzer, for a bounded time.
scripts/fuzz.sh 60
