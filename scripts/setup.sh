#!/usr/bin/env bash
# Installs every Debian package the build, tests and benchmarks need, then
# configures and builds. Safe to run again: apt-get skips what is installed and
# the build is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build clang libclang-rt-14-dev pkg-config
  libcmark-gfm-dev libcmark-gfm-extensions-dev
  libzip-dev libexpat1-dev libplist-dev libutf8proc-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsnappy-dev libetonyek-tools unzip python3 file
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
