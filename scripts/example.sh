#!/usr/bin/env bash
# Installs what is needed, builds the programs and runs the main job on the bundled example:
# a copy of examples/info.pdf is rewritten in place by Sorvane's outside-tool engine (target
# version 1.7, AES-256, user password "user", owner password "owner", every restriction but
# printing, web optimisation, Japanese document information), then shown with pdfinfo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${SV_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSV_BUILD_TESTS=OFF
cmake --build "$build" -j"$(nproc)"

work=out/example
rm -rf "$work"
mkdir -p "$work"
cp examples/info.pdf "$work/info.pdf"
echo "== before"
pdfinfo "$work/info.pdf"
echo "== rewriting $work/info.pdf"
"$build/program/sorvane-lock-example" "$(pwd)/$work/info.pdf" user owner
echo "== after (opened with the user password)"
pdfinfo -upw user "$work/info.pdf"
echo "== encryption"
qpdf --password=owner --show-encryption "$work/info.pdf"
