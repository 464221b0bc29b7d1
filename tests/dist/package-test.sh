#!/usr/bin/env bash
# package-test.sh BUILD SAMPLE WORK
#
# Builds the Debian package, unpacks it into a scratch root (dpkg -x), and packs the
# sample with the lesson-pack found there: it must take the installed, self-contained
# templates beside itself, with no build tree and no cmake involved.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 sample=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
fail() { echo "package-test: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
deb=$(find "$work/cpack" -maxdepth 1 -name '*.deb' | head -n1)
[ -n "$deb" ] || fail "no .deb written"
echo "package-test: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
dpkg -x "$deb" "$work/root"

bundles="$work/root/usr/lib/brindle/bundles"
"$here/check-bundle.sh" "$bundles/Unspool.app" "$bundles/Wayfarer.app" "$bundles/Quiesce.app" ||
  fail "an installed bundle is not self-contained"

# Packed from the installed templates: the lesson comes out self-contained without
# being made so, and the single file needs nothing from the build.
PATH=/usr/bin:/bin "$work/root/usr/bin/lesson-pack" --single-file "$sample" "Installed Sample" "$work/out" >/dev/null
"$here/check-bundle.sh" "$work/out/Installed Sample.app" || fail "the packed lesson is not self-contained"
[ -f "$work/out/Installed Sample.run" ] || fail "no single file from the installed packer"
