#!/usr/bin/env bash
# Builds the reader fuzzer with clang-14 (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs it for the given number of seconds (default 60), seeded with the small
# committed seeds and, when present, the outside corpus. Fails on any crash, leak or hang; the
# input that caused it is left in build-fuzz/artifacts/.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
build=${SV_FUZZ_BUILD_DIR:-build-fuzz}
target=fuzz_ReaderFuzz

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DSV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSV_BUILD_TESTS=OFF -DSV_BUILD_GUI=OFF -DSV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "$target"

# Seeds: the committed ones, and of every outside PDF its head and its tail (where startxref and
# the trailer stand), small enough for quick runs.
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/work" "$build/artifacts"
cp fuzz/seeds/reader/*.pdf "$seeds/"
corpus=${SV_CORPUS_DIR:-$root/../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
if [ -d "$corpus" ]; then
  n=0
  while IFS= read -r -d '' f; do
    n=$((n + 1))
    head -c 12288 "$f" >"$seeds/head$n.pdf"
    tail -c 4096 "$f" >"$seeds/tail$n.pdf"
  done < <(find "$corpus" -name '*.pdf' -print0 | sort -z)
  echo "fuzz: seeded with $n outside files from $(cd "$corpus" && pwd -P)"
else
  echo "fuzz: no outside corpus found; committed seeds only"
fi

set +e
"$build/fuzz/$target" "$build/work" "$seeds" -dict=fuzz/pdf.dict -max_total_time="$seconds" \
  -timeout=10 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" 2>"$build/fuzz.log"
status=$?
set -e
tail -n 20 "$build/fuzz.log"
if [ $status -ne 0 ]; then
  echo "fuzz: FAILED (exit $status); see $build/fuzz.log and $build/artifacts/" >&2
  exit 1
fi
echo "fuzz: no crash, leak or hang in $seconds s"
