#!/usr/bin/env bash
# make-base-root.sh PACKAGE...: prints the path of a minimal Debian root of the named
# packages (the base desktop system) beside Debian's minimal set, cached in
# $BASE_ROOT_CACHE (default /var/cache/brindle-debootstrap), one root per suite, mirror
# and list; made in a scratch folder and renamed into place, so an interrupted run
# leaves no half-made root. Exit status 77: this machine cannot make one.
set -euo pipefail
cannot() { echo "make-base-root: cannot make a root here: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || cannot "debootstrap and chroot need root"
command -v debootstrap >/dev/null || cannot "debootstrap is not installed"
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
mirror=${DEBIAN_MIRROR:-$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
  /etc/apt/sources.list.d/*.sources 2>/dev/null | sed -n -e 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' \
  -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\).*/\2/p' | grep -v security | head -n1 || true)}
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
  debootstrap --variant=minbase --include="$include" "$suite" "$scratch" "$mirror" >"$scratch.log" 2>&1 ||
    { tail -n 20 "$scratch.log" >&2; echo "make-base-root: debootstrap failed" >&2; exit 1; }
  rm -f "$scratch.log" "$scratch/var/cache/apt/archives/"*.deb
  touch "$scratch/.complete"
  rm -rf --one-file-system "$root"
  mv "$scratch" "$root"
  trap - EXIT
fi
echo "$root"
