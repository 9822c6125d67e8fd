#!/usr/bin/env bash
# Builds the reader and document fuzzers with clang-14 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz and runs them one after the other, sharing the given
# number of seconds (default 60), seeded with the small committed seeds and, when present, the
# outside corpus (SV_CORPUS_DIR, else ../shared/corpus beside the checkout). Fails on any crash,
# leak or hang; the input that caused it is left in build-fuzz/artifacts/.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
build=${SV_FUZZ_BUILD_DIR:-build-fuzz}
targets=(fuzz_ReaderFuzz fuzz_DocumentFuzz)
each=$((seconds / ${#targets[@]}))
[ "$each" -ge 1 ] || each=1

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DSV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSV_BUILD_TESTS=OFF -DSV_BUILD_GUI=OFF -DSV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# Seeds: the committed ones, of every outside PDF its head and its tail (where startxref and the
# trailer stand), and the small outside PDFs whole (so the document fuzzer gets files that load).
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/work" "$build/artifacts"
cp fuzz/seeds/reader/*.pdf "$seeds/"
corpus=${SV_CORPUS_DIR:-$root/../shared/corpus}
if [ -d "$corpus" ]; then
  n=0
  while IFS= read -r -d '' f; do
    n=$((n + 1))
    head -c 12288 "$f" >"$seeds/head$n.pdf"
    tail -c 4096 "$f" >"$seeds/tail$n.pdf"
    [ "$(stat -c %s "$f")" -gt 16384 ] || cp "$f" "$seeds/whole$n.pdf"
  done < <(find "$corpus" -name '*.pdf' -print0 | sort -z)
  echo "fuzz: seeded with $n outside files from $(cd "$corpus" && pwd -P)"
else
  echo "fuzz: no outside corpus found; committed seeds only"
fi

failed=0
for target in "${targets[@]}"; do
  mkdir -p "$build/work/$target"
  log="$build/$target.log"
  set +e
  "$build/fuzz/$target" "$build/work/$target" "$seeds" -dict=fuzz/pdf.dict -max_total_time="$each" \
    -timeout=10 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/" 2>"$log"
  status=$?
  set -e
  echo "fuzz: $target"
  tail -n 20 "$log"
  if [ $status -ne 0 ]; then
    echo "fuzz: $target FAILED (exit $status); see $log and $build/artifacts/" >&2
    failed=1
  fi
done
[ $failed -eq 0 ] || exit 1
echo "fuzz: no crash, leak or hang in $seconds s over ${#targets[@]} targets"
