#!/usr/bin/env bash
# The extraction benchmark: our extraction as Unspool runs it, the archive class
# alone (no hand-over), unzip and bsdtar, on tmpfs (/dev/shm) and on the disk that
# holds the build folder; then the bare round trip between two threads.
#   bench/run.sh [build folder]          (default: build/, or $BUILD_DIR)
# REPETITIONS (default 5) and WARMUPS (default 1) set the runs per tool and lesson.
# The lessons are made once (fixed seeds) into <build folder>/bench-data. The
# medians also land as a Markdown table in <build folder>/bench-results.md, the
# table the README's performance section shows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${BUILD_DIR:-$root/build}}")
repetitions=${REPETITIONS:-5}
warmups=${WARMUPS:-1}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" --target bench_extract bench_round_trip -j2 >/dev/null
data="$build/bench-data"
python3 "$root/bench/make_lessons.py" "$data" >/dev/null
program="$build/bench/bench_extract"
round_trip="$build/bench/bench_round_trip"
table="$build/bench-results.md"
{
  echo "| lesson | on | ours s | archive alone s | unzip s | bsdtar s | ours/archive | ours/bsdtar | hand-over share / per entry | CPU s ours / archive / unzip / bsdtar | peak MiB ours / archive / unzip / bsdtar |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|"
} >"$table"
rm -f "$table.notes"

for place in /dev/shm "$build"; do
  work=$(mktemp -d "$place/bench-extract-XXXXXX")
  echo "== $place ($(df --output=fstype "$place" | tail -n1 | tr -d ' '))"
  "$program" "$work" "$repetitions" "$warmups" "$table" \
    many-small="$data/many-small.zip" few-large="$data/few-large.zip" \
    bundle-like="$data/bundle-like.zip"
  rm -rf "$work"
done
echo "== round trips"
trips=$("$round_trip" 2>/dev/null)
echo "$trips"
{
  echo
  cat "$table.notes"
  echo
  echo '```'
  echo "$trips"
  echo '```'
} >>"$table"
rm -f "$table.notes"
echo "== table ($table)"
cat "$table"
