#!/usr/bin/env bash
# Installs what is needed and runs every test three ways: the whole suite in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, the whole suite again in the Release build the
# programs are made with (its object pool and the load budgets' address-space limits are off under
# AddressSanitizer), and the tests that use threads (the rewrite pool, the block writer, the
# object pool, the batch run) in a ThreadSanitizer build. Then a program of its own tree builds
# the library with add_subdirectory, and the reader fuzzer runs for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
start=$SECONDS
step() { echo "== test.sh: $1 ($((SECONDS - start)) s so far)"; }

step "AddressSanitizer build, every test"
build=${SV_BUILD_DIR:-build-asan}
cmake -S . -B "$build" -DSV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

step "Release build, every test"
release=${SV_RELEASE_BUILD_DIR:-build-release}
cmake -S . -B "$release" -DCMAKE_BUILD_TYPE=Release -DSV_BUILD_BENCH=OFF
cmake --build "$release" -j"$jobs"
ctest --test-dir "$release" --output-on-failure -j"$jobs"

step "ThreadSanitizer build, the tests that use threads"
tsan=${SV_TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$tsan" -DSV_SANITIZE_THREAD=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSV_BUILD_BENCH=OFF
cmake --build "$tsan" -j"$jobs" --target pdfcore_tests pdfdocument_tests sorvane_tests \
  AHPDFToolCmd26
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$tsan" --output-on-failure -j"$jobs" \
  -R '^(ObjectPool|BackgroundOutputTest|LibraryEngine|BatchRun|FileSafety)\.'

step "the library built by a program of its own tree"
scripts/outside-project.sh

step "the reader fuzzer"
scripts/fuzz.sh 60
step "done"
