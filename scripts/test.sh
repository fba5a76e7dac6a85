#!/usr/bin/env bash
# Runs every test: the suite built with g++, the fuzz targets for a short time
# each, and the suite again built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 600

scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMARO_SANITIZE=ON -DLUMARO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 900
