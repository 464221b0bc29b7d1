#!/usr/bin/env bash
# The habits the build enforces: every C and C++ file as the root .clang-format lays it
# out, and clang-tidy's checks (.clang-tidy) clean over every file the build compiles.
#   check-style.sh [build folder]   (default: build/, or $BUILD_DIR; it must be configured,
#                                    as scripts/build.sh does: clang-tidy reads its
#                                    compile_commands.json)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${BUILD_DIR:-$root/build}}")
cd "$root"

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "check-style: the files above differ from .clang-format (clang-format -i FILE)" >&2
  exit 1
fi
echo "check-style: ${#sources[@]} files as .clang-format lays them out"

[ -f "$build/compile_commands.json" ] ||
  { echo "check-style: no $build/compile_commands.json; run scripts/build.sh first" >&2; exit 1; }
# Every translation unit of ours that the build compiles; not Qt's generated sources.
mapfile -t units < <(git ls-files '*.c' '*.cpp' | grep -v '^fuzz/' | sed "s|^|$root/|")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -p "$build" -quiet -j "$(nproc)" "${units[@]}" >"$log" 2>&1; then
  sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '(warning|error):' -A3 | head -n 200 || tail -n 50 "$log"
  echo "check-style: clang-tidy found the above (.clang-tidy)" >&2
  exit 1
fi
echo "check-style: clang-tidy clean over ${#units[@]} files"
