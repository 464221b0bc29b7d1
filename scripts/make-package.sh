#!/usr/bin/env bash
# The authors' package in one command: installs what building needs (setup.sh), builds
# the programs and the packer (not the tests) into build/ (or $BUILD_DIR) and makes the
# Debian package there with cpack. Its last line is the package's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" -DBUILD_TESTING=OFF
(cd "$build" && cpack >/dev/null)
ls "$build"/brindle-lesson-tools_*.deb
