#!/usr/bin/env bash
# Sets up a fresh machine, checks that the tests stay lean, builds, runs every
# test, then fuzzes the extraction for a minute (FUZZ_SECONDS, 0 to skip).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/test-ratio.sh"
bash "$root/scripts/setup.sh" test
bash "$root/scripts/build.sh" -DBUILD_TESTING=ON
(cd "${BUILD_DIR:-$root/build}" && ctest --output-on-failure -j"$(nproc)")
seconds=${FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  bash "$root/scripts/fuzz.sh" "$seconds" > "${BUILD_DIR:-$root/build}/fuzz.log" 2>&1 ||
    { tail -n 40 "${BUILD_DIR:-$root/build}/fuzz.log"; echo "test: the fuzz run failed" >&2; exit 1; }
  echo "test: fuzzing found nothing in ${seconds} s ($(grep -c . "${BUILD_DIR:-$root/build}/fuzz.log") log lines)"
fi
