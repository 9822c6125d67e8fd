#!/usr/bin/env bash
# Builds the reader, document, font and picture fuzzers with clang-14 (libFuzzer, AddressSanitizer,
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
targets=(fuzz_ReaderFuzz fuzz_DocumentFuzz fuzz_FontFuzz fuzz_PictureFuzz)
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

# Seeds of the font fuzzer: the tests' fixture fonts, cut with fontTools from installed fonts.
font_seeds="$build/font-seeds"
rm -rf "$font_seeds"
mkdir -p "$font_seeds"
/usr/bin/python3 -I tests/support/make_font_fixtures.py "$font_seeds" \
  "$(fc-match -f '%{file}' 'DejaVu Sans')" "$(fc-match -f '%{file}' 'Liberation Sans')" \
  "$(fc-match -f '%{file}' 'DejaVu Sans Mono')" "$(fc-match -f '%{file}' 'Nimbus Sans')" ||
  echo "fuzz: no fixture fonts (fontTools missing?); the font fuzzer starts from nothing"

failed=0
for target in "${targets[@]}"; do
  mkdir -p "$build/work/$target"
  log="$build/$target.log"
  target_seeds=$seeds
  target_options=(-dict=fuzz/pdf.dict -max_len=16384)
  if [ "$target" = fuzz_FontFuzz ]; then
    target_seeds=$font_seeds
    target_options=(-max_len=65536)
  elif [ "$target" = fuzz_PictureFuzz ]; then
    target_seeds=fuzz/seeds/pictures
    target_options=(-dict=fuzz/picture.dict -max_len=65536)
  fi
  set +e
  "$build/fuzz/$target" "$build/work/$target" "$target_seeds" "${target_options[@]}" \
    -max_total_time="$each" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
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
