#!/usr/bin/env bash
# Prints the size of the tests against the code they test and fails above 0.40.
# Both count non-blank lines of tracked C++, C, Python, shell and CMake files; the
# tests are tests/, fuzz/ and the scripts only tests run; bench/ and samples/ are
# neither.
set -euo pipefail
cd "$(dirname "$0")/.."
tests_only='^(tests|fuzz)/|^scripts/(test|test-sanitizers|test-ratio|fuzz)\.sh$'
count() {
  grep -E '(\.(cpp|h|c|py|sh|cmake)|CMakeLists\.txt)$' | tr '\n' '\0' |
    xargs -0r cat -- | grep -cv '^[[:space:]]*$' || true
}
tests=$(git ls-files | grep -E "$tests_only" | count)
code=$(git ls-files | grep -Ev "$tests_only|^(bench|samples)/" | count)
awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "test-ratio: tests %d lines, code %d lines, ratio %.3f (limit 0.40)\n", t, c, t / c
  if (t > 0.40 * c) { print "test-ratio: the tests have outgrown the code they test"; exit 1 } }'
