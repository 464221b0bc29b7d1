#!/usr/bin/env bash
# The extraction benchmark: our extraction as Unspool runs it against unzip and
# bsdtar, on tmpfs (/dev/shm) and on the disk that holds the build folder.
#   bench/run.sh [build folder]          (default: build/, or $BUILD_DIR)
# REPETITIONS (default 5) and WARMUPS (default 1) set the runs per tool and lesson.
# The lessons are made once (fixed seeds) into <build folder>/bench-data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${BUILD_DIR:-$root/build}}")
repetitions=${REPETITIONS:-5}
warmups=${WARMUPS:-1}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" --target bench_extract -j2 >/dev/null
data="$build/bench-data"
python3 "$root/bench/make_lessons.py" "$data" >/dev/null
program=$(find "$build" -name bench_extract -type f -perm -u+x | head -n1)

for place in /dev/shm "$build"; do
  work=$(mktemp -d "$place/bench-extract-XXXXXX")
  echo "== $place ($(df --output=fstype "$place" | tail -n1 | tr -d ' '))"
  "$program" "$work" "$repetitions" "$warmups" \
    many-small="$data/many-small.zip" few-large="$data/few-large.zip" \
    bundle-like="$data/bundle-like.zip"
  rm -rf "$work"
done
