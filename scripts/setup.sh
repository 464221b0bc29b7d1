#!/usr/bin/env bash
# Installs the Debian packages that are missing (idempotent).
#   setup.sh         what building the programs and the packer, packing a lesson
#                    and running the programs need (the main job)
#   setup.sh test    that, and what the tests, the fuzzing and the sanitizer runs need
set -euo pipefail

# Build the programs and the packer; make bundles self-contained.
build_packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-l10n-tools qt6-image-formats-plugins
  libminizip-dev zlib1g-dev libplist-dev libxcb1-dev libglib2.0-dev
  patchelf binutils icu-devtools
)
# What the programs call at run time.
program_packages=(lsof procps pkexec xdg-utils)
# The tests (GoogleTest, archives made by other tools, a virtual screen, a Debian root
# without our dependencies, the package's contents, a browser that renders the lesson
# Wayfarer opens), fuzzing, sanitizers and the style checks.
test_packages=(
  python3
  libgtest-dev libgmock-dev
  libxml2-utils
  zip unzip libarchive-tools
  clang libfuzzer-14-dev libclang-rt-14-dev clang-format clang-tidy
  xvfb xauth x11-utils xdotool imagemagick
  debootstrap
  chromium
)

packages=("${build_packages[@]}" "${program_packages[@]}")
case "${1:-}" in
  "") ;;
  test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: setup.sh [test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
