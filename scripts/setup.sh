#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent: only what is missing is installed.
set -euo pipefail

packages=(
  cmake g++ make pkg-config python3
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-l10n-tools qt6-image-formats-plugins
  libminizip-dev zlib1g-dev libplist-dev libxcb1-dev
  libgtest-dev libgmock-dev
  lsof procps pkexec xdg-utils libxml2-utils
  zip unzip libarchive-tools
  clang libfuzzer-14-dev libclang-rt-14-dev
  xvfb xauth x11-utils xdotool imagemagick
)

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
