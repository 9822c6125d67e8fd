#!/usr/bin/env bash
# A program of another CMake project builds the PDF library from this checkout with
# add_subdirectory, from its own tree: a tiny project made in a fresh folder compiles the stamping
# example against the library's targets, and its output is judged by qpdf and pdftotext.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/sv-outside.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
cp examples/StampExample.cpp "$work/src/main.cpp"
cat >"$work/src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(OutsideUser LANGUAGES C CXX)
set(CMAKE_CXX_STANDARD 20)
set(SV_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(SV_BUILD_BENCH OFF CACHE BOOL "" FORCE)
set(SV_BUILD_GUI OFF CACHE BOOL "" FORCE)
add_subdirectory("$checkout" sorvane)
add_executable(outside-stamp main.cpp)
target_link_libraries(outside-stamp PRIVATE pdfdocument)
CMAKE
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" -j"$(nproc)" --target outside-stamp >/dev/null
"$work/build/outside-stamp" examples/plain.pdf "$work/out.pdf"
qpdf --check "$work/out.pdf" >/dev/null
pdftotext "$work/out.pdf" - | grep -q "社外秘"
echo "outside project: the library built with add_subdirectory; its program's output passes qpdf --check"
