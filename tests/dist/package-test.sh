#!/usr/bin/env bash
# package-test.sh BUILD SAMPLE WORK: the Debian package, unpacked (dpkg -x); its lesson-pack packs
# the sample as a single file with the installed bundles beside it: no build tree, no cmake.
set -euo pipefail
here=$(dirname "$0") build=$1 sample=$2 work=$3
fail() { echo "package-test: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
dpkg -x "$work/cpack/"*.deb "$work/root" || fail "no single .deb written"
bundles="$work/root/usr/lib/brindle/bundles"
"$here/check-bundle.sh" "$bundles"/{Unspool,Wayfarer,Quiesce}.app || fail "an installed bundle is not self-contained"
PATH=/usr/bin:/bin "$work/root/usr/bin/lesson-pack" --single-file "$sample" "Installed Sample" "$work/out" >/dev/null
"$here/check-bundle.sh" "$work/out/Installed Sample.app" || fail "the packed lesson is not self-contained"
[ -f "$work/out/Installed Sample.run" ] || fail "no single file from the installed packer"
