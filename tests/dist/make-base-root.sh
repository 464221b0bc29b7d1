#!/usr/bin/env bash
# make-base-root.sh PACKAGE...
#
# Prints the path of a minimal Debian root holding only the named packages (the base
# desktop system a self-contained lesson may rely on) beside Debian's minimal set.
# Roots are kept under $BASE_ROOT_CACHE (default /var/cache/brindle-debootstrap), one
# per package list, suite and mirror, so only the first run downloads anything. A root
# is made in a scratch folder and renamed into place, so an interrupted run leaves no
# half-made root behind. Exit status 77: this machine cannot make a root (reason on
# standard error).
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: make-base-root.sh PACKAGE..." >&2; exit 2; }

cannot() { echo "make-base-root: cannot make a root here: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || cannot "debootstrap and chroot need root"
command -v debootstrap >/dev/null || cannot "debootstrap is not installed"

# The suite this machine runs, and the Debian mirror apt is configured with.
suite=$( . /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
mirror=${DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    sed -n -e 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\).*/\2/p' |
    grep -v -e security -e '^$' | head -n1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}

include=$(printf '%s\n' "$@" | sort -u | paste -sd, -)
key=$(printf '%s\n' "$suite" "$mirror" "$include" | sha256sum | cut -c1-16)
cache=${BASE_ROOT_CACHE:-/var/cache/brindle-debootstrap}
root="$cache/$key"
mkdir -p "$cache"

exec 9>"$cache/$key.lock"
flock 9
if [ ! -f "$root/.complete" ]; then
  scratch=$(mktemp -d "$cache/$key.making.XXXXXX")
  trap 'rm -rf --one-file-system "$scratch"' EXIT
  echo "make-base-root: making a $suite root with $include from $mirror" >&2
  if ! debootstrap --variant=minbase --include="$include" "$suite" "$scratch" "$mirror" \
      > "$scratch.log" 2>&1; then
    tail -n 20 "$scratch.log" >&2
    echo "make-base-root: debootstrap failed (log: $scratch.log)" >&2
    exit 1
  fi
  rm -f "$scratch.log"
  # Nothing of the build may leak in: no Qt, no minizip, no libplist.
  rm -rf "$scratch/var/cache/apt/archives/"*.deb
  touch "$scratch/.complete"
  rm -rf --one-file-system "$root"
  mv "$scratch" "$root"
  trap - EXIT
fi
echo "$root"
