#!/usr/bin/env bash
# The whole tree under AddressSanitizer and UndefinedBehaviorSanitizer: builds in
# build-asan/ (or $ASAN_BUILD_DIR) with -DENABLE_SANITIZERS=ON and runs every test but the shipping and multi-gigabyte ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENABLE_SANITIZERS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# Leaks are reported at exit; child processes the tests start inherit these too.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The shipping tests (self-contained bundles, the single file in a bare Debian root,
# the package) check what is shipped, which is never a sanitizer build. The lessons
# past the old ZIP limits move gigabytes through zlib, which is not instrumented; the
# 64-bit arithmetic they rely on is exercised by the hostile archives, which do run here.
ctest --output-on-failure -j"$(nproc)" -LE 'dist|large'
