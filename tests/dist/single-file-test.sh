#!/usr/bin/env bash
# single-file-test.sh LESSON-PACK SAMPLE WORK PACKAGE...: SAMPLE packed as a single file with an
# icon: its bundles are self-contained, a damaged copy unpacks nothing, Unspool falls back to xcb
# from a Wayland setting, and in a bare Debian root of the base PACKAGEs only (77: none here) it
# unpacks into a private lesson folder and starts the setup launcher.
set -euo pipefail
here=$(dirname "$0") pack=$1 sample=$2 work=$3
shift 3
name="How Rivers Shape the Land"
fail() { echo "single-file-test: $*" >&2; exit 1; }
skip() { echo "single-file-test: skipped: $*" >&2; exit 77; }
# The ids of the running programs whose path matches a pattern.
running() { for exe in /proc/[0-9]*/exe; do [[ "$(readlink "$exe" 2>/dev/null)" != $1 ]] || echo "${exe//[^0-9]/}"; done; }
rm -rf "$work" && mkdir -p "$work/archive" && mkdir -m 0700 "$work/damaged-tmp" "$work/wayland-tmp"
convert -size 96x64 xc:'#c04020' "$work/icon.png"
"$pack" --single-file --icon "$work/icon.png" "$sample" "$name" "$work/out" >/dev/null
app="$work/out/$name.app" run="$work/out/$name.run"
[ "$(stat -c %s "$run")" -lt $((40 << 20)) ] || fail "the single file is 40 MB or more"
bsdtar -xf "$app/Contents/Resources/archive.zip" -C "$work/archive"
"$here/check-bundle.sh" "$app" "$work/archive/Wayfarer.app" || fail "a bundle is not self-contained"
[ "$(head -c4 "$app/Contents/Resources/Lesson.icns")" = icns ] || fail "no Lesson.icns"

cp "$run" "$work/damaged.run"
printf '\377\000\377' | dd of="$work/damaged.run" bs=1 seek=$(($(stat -c %s "$run") - 4096)) conv=notrunc status=none
! TMPDIR="$work/damaged-tmp" QT_QPA_PLATFORM=offscreen sh "$work/damaged.run" >"$work/damaged.log" 2>&1 ||
  fail "a damaged single file ran"
grep -q "Error in SHA256 checksums" "$work/damaged.log" || fail "no checksum message"
[ -z "$(find "$work/damaged-tmp" -type f)" ] || fail "a damaged single file unpacked something"

TMPDIR="$work/wayland-tmp" QT_QPA_PLATFORM=wayland xvfb-run -a -s "-screen 0 1024x768x24" \
  timeout 120 "$app/Contents/MacOS/Unspool" >"$work/wayland.log" 2>&1 || fail "no fallback to xcb"
[ -f "$work/wayland-tmp/Brindle_Lessons/$name/pagewright_files/index.html" ] || fail "nothing unpacked on xcb"

# The base root: Debian's minimal set and PACKAGEs only, made once and cached.
status=0 && root=$("$here/debian-root.sh" "$work/debootstrap.log" "$@") || status=$?
[ $status -ne 77 ] || skip "debootstrap and chroot need root"
[ $status -eq 0 ] || fail "no base root"
[ -z "$(find "$root/usr/lib/x86_64-linux-gnu" -maxdepth 1 -name 'libQt6*' -o -name 'libminizip*' -o -name 'libplist*')" ] ||
  fail "the base root holds Qt or a library of ours"
inside=/tmp/single-file-test.$$
cleanup() {
  kill -9 $(running "$root$inside/*") 2>/dev/null || true
  umount -l "$root/proc" "$root/dev" 2>/dev/null || true
  rm -rf --one-file-system "${root:?}$inside"
}
trap cleanup EXIT
mkdir -p -m 0700 "$root$inside/learner" "$root$inside/home"
cp "$run" "$root$inside/lesson.run"
mount -t proc proc "$root/proc" && mount --bind /dev "$root/dev" || skip "cannot mount in the root"
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME="$inside/home" TMPDIR="$inside/learner" \
  QT_QPA_PLATFORM=offscreen timeout 120 sh "$inside/lesson.run" >"$work/root-run.log" 2>&1 ||
  fail "the single file failed in the base root: $(tail -n 20 "$work/root-run.log")"
lesson="$root$inside/learner/Brindle_Lessons/$name"
[ -f "$lesson/pagewright_files/index.html" ] || fail "no start page in the private lesson folder"
[ "$(stat -c %a "$lesson")" = 700 ] || fail "the lesson folder is open to others"
for _ in $(seq 300); do
  [ -z "$(running "$lesson/Wayfarer.app/Contents/MacOS/Wayfarer")" ] || exit 0
  sleep 0.1
done
fail "the setup launcher did not start: $(tail -n 20 "$work/root-run.log")"
