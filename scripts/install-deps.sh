#!/usr/bin/env bash
# Installs, as root on Debian 12, everything the build, the programs and the tests need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  build-essential cmake pkg-config git ca-certificates
  zlib1g-dev libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev
  libwxgtk3.2-dev libqpdf-dev
  poppler-utils qpdf python3 ghostscript libjpeg-turbo-progs
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-liberation2 fonts-dejavu-core fonts-urw-base35
  fontconfig python3-fonttools mupdf-tools poppler-data
  libgtest-dev libbenchmark-dev xvfb xauth xdotool clang-14 libclang-rt-14-dev strace
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
