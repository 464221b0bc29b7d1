#!/usr/bin/env bash
# debian-root.sh LOG PACKAGE...: prints the path of a bare Debian root (Debian's minimal set and
# the PACKAGEs with their dependencies, from $DEBIAN_MIRROR or the mirror apt uses), made by
# debootstrap on first use and cached in $BASE_ROOT_CACHE per suite, mirror and list; made aside
# and renamed, so never half-made. Exit 77 where it cannot be made (no root rights, no
# debootstrap), 1 when debootstrap fails (its output in LOG). Callers must not change the root.
set -euo pipefail
log=$1
shift
[ "$(id -u)" -eq 0 ] && command -v debootstrap >/dev/null || {
  echo "debootstrap and chroot need root" >&2
  exit 77
}
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
# The mirror apt is configured with, which may be the only one this machine reaches.
mirror=${DEBIAN_MIRROR:-$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.{list,sources} 2>/dev/null |
  sed -n -e 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\).*/\2/p' |
  grep -v -e security -e '^$' | head -n1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
include=$(printf '%s\n' "$@" | sort -u | paste -sd, -)
cache=${BASE_ROOT_CACHE:-/var/cache/brindle-debootstrap}
root=$cache/$(printf '%s\n' "$suite" "$mirror" "$include" | sha256sum | cut -c1-16)
mkdir -p "$cache" && exec 9>"$root.lock" && flock 9
if [ ! -f "$root/.complete" ]; then
  scratch=$(mktemp -d "$root.making.XXXXXX") && trap 'rm -rf --one-file-system "$scratch"' EXIT
  debootstrap --variant=minbase --include="$include" "$suite" "$scratch" "$mirror" >"$log" 2>&1 || {
    echo "debootstrap failed: $(tail -n 20 "$log")" >&2
    exit 1
  }
  rm -f "$scratch/var/cache/apt/archives/"*.deb && touch "$scratch/.complete"
  rm -rf --one-file-system "$root" && mv "$scratch" "$root"
fi
echo "$root"
