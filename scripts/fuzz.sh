#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of
# seconds (default 30), all at once, from seeds made out of the fixtures.
# Any crash, leak, hang or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
jobs=$(nproc)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMARO_BUILD_FUZZERS=ON -DLUMARO_BUILD_TESTS=OFF -DLUMARO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"

shopt -s nullglob
targets=(build-fuzz/Fuzz/fuzz-*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets"
  exit 0
fi

shared=${LUMARO_SHARED_DIR:-$(cd .. && pwd)/shared}
work=build-fuzz/runs
rm -rf "$work"
mkdir -p "$work"
if [ -x build/Tools/make-fuzz-seeds ]; then
  build/Tools/make-fuzz-seeds "$shared/fixtures/pages" "$work/seeds"
fi
# Markdown seeds: the corpus files no larger than the longest input tried.
mkdir -p "$work/seeds/markdown"
find "$shared/corpus/markdown" -name '*.md' -size -256k -exec cp -t "$work/seeds/markdown" {} + 2>/dev/null || true

# Fuzz/seeds.txt maps each target to the kinds of seed it starts from
# ("<Name> <kind>[,<kind>...]"); make-fuzz-seeds writes one folder per kind.
seed_kinds() {
  awk -v n="$1" '$1 == n { print $2 }' Fuzz/seeds.txt 2>/dev/null | tr ',' ' '
}

pids=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  name=${name#fuzz-}
  mkdir -p "$work/corpus-$name"
  dirs=()
  for kind in $(seed_kinds "$name"); do
    [ -d "$work/seeds/$kind" ] && dirs+=("$work/seeds/$kind")
  done
  "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=262144 \
    -print_final_stats=1 -artifact_prefix="$work/crash-$name-" \
    "$work/corpus-$name" "${dirs[@]}" >"$work/$name.log" 2>&1 &
  pids+=("$!:$name")
done

failed=0
for entry in "${pids[@]}"; do
  pid=${entry%%:*}
  name=${entry#*:}
  if wait "$pid"; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$work/$name.log" | awk '{print $2}')
    echo "fuzz $name: ${seconds}s, ${runs:-?} runs, no crash"
  else
    echo "fuzz $name: FAILED"
    tail -n 60 "$work/$name.log"
    failed=1
  fi
done
exit $failed
