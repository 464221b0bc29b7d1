#!/usr/bin/env bash
# The authors' packer in one command: installs what building needs (setup.sh), builds
# the programs and the packer (not the tests) into build/ (or $BUILD_DIR), makes the
# Debian package there with cpack and installs it (as root, or with sudo), so that
# `lesson-pack` is on PATH. The package stays in the build folder for other machines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" -DBUILD_TESTING=OFF
(cd "$build" && cpack >/dev/null)
package=$(ls -t "$build"/brindle-lesson-tools_*.deb | head -n 1)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --reinstall "$package"
echo "install-lesson-pack: installed $package; lesson-pack --help tells how to use it"
