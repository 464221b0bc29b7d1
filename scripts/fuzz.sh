#!/usr/bin/env bash
# Fuzzes the extraction: builds fuzz/ with clang, libFuzzer, ASan and UBSan in
# build-fuzz/ (or $FUZZ_BUILD_DIR), seeds the corpus with the hostile-archive
# suite and runs for the given number of seconds (default 60).
#   scripts/fuzz.sh [seconds]
# A longer run, e.g. overnight on both cores:
#   scripts/fuzz.sh 28800   (or FUZZ_JOBS=2 scripts/fuzz.sh 28800)
# The corpus stays in build-fuzz/corpus and grows from run to run; a crash leaves
# its input as build-fuzz/crash-* for replay: build-fuzz/fuzz_extract <file>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
jobs=${FUZZ_JOBS:-1}

cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

seeds="$build/seeds"
if [ ! -f "$seeds/manifest.json" ]; then
  outside=$(mktemp -d)
  python3 "$root/tests/hostile/make_hostile.py" "$seeds" "$outside" >/dev/null
  rmdir "$outside"
fi
mkdir -p "$build/corpus"

cd "$build"
# Inputs beyond 64 KiB add little but slow every run down; hangs count after 10 s.
exec ./fuzz_extract -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -rss_limit_mb=2048 -jobs="$jobs" -workers="$jobs" -print_final_stats=1 \
  corpus "$seeds"
