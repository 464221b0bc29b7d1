#!/usr/bin/env bash
# single-file-test.sh LESSON-PACK SAMPLE WORK PACKAGE...
#
# Packs SAMPLE as a single file with an icon, checks the bundles it carries are
# self-contained and that a damaged copy is refused before anything is unpacked, then
# opens it as a learner would (sh "<Lesson>.run", offscreen) inside a bare Debian root
# made of the base PACKAGEs only: no Qt, nothing of ours. The lesson must unpack into
# the learner's temporary folder with its start page, and the setup launcher start.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pack=$1 sample=$2 work=$3
shift 3
name="How Rivers Shape the Land"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "single-file-test: $*" >&2; exit 1; }

convert -size 96x64 xc:'#c04020' "$work/icon.png"
"$pack" --single-file --icon "$work/icon.png" "$sample" "$name" "$work/out" >/dev/null
app="$work/out/$name.app"
run="$work/out/$name.run"
[ -f "$run" ] || fail "no single file written"
echo "single-file-test: $(du -sk "$app" | cut -f1) KiB bundle, $(du -k "$run" | cut -f1) KiB single file"
[ "$(stat -c %s "$run")" -lt $((40 * 1024 * 1024)) ] || fail "the single file is 40 MB or more"

# Both bundles a learner receives carry their libraries; the lesson shows its icon.
mkdir "$work/archive"
bsdtar -xf "$app/Contents/Resources/archive.zip" -C "$work/archive"
"$here/check-bundle.sh" "$app" "$work/archive/Wayfarer.app" || fail "a bundle is not self-contained"
grep -A1 CFBundleIconFile "$app/Contents/Info.plist" | grep -q '<string>Lesson.icns</string>' ||
  fail "CFBundleIconFile does not name the lesson's icon"
[ "$(head -c4 "$app/Contents/Resources/Lesson.icns")" = icns ] || fail "Lesson.icns is not an icon file"

# A damaged download is refused before anything is unpacked.
cp "$run" "$work/damaged.run"
size=$(stat -c %s "$run")
printf '\377\000\377' | dd of="$work/damaged.run" bs=1 seek=$((size - 4096)) conv=notrunc status=none
mkdir -p -m 0700 "$work/damaged-tmp"
status=0
TMPDIR="$work/damaged-tmp" QT_QPA_PLATFORM=offscreen sh "$work/damaged.run" >"$work/damaged.log" 2>&1 ||
  status=$?
[ "$status" -ne 0 ] || fail "a damaged single file ran"
grep -q "Error in SHA256 checksums" "$work/damaged.log" || fail "no checksum message: $(cat "$work/damaged.log")"
# (makeself makes its empty scratch folder before it checks; nothing may be in it)
[ -z "$(find "$work/damaged-tmp" -type f)" ] || fail "a damaged single file unpacked something"

# A Wayland session's setting names a plug-in the bundle lacks: the programs use xcb.
mkdir -p -m 0700 "$work/wayland-tmp"
status=0
TMPDIR="$work/wayland-tmp" QT_QPA_PLATFORM=wayland \
  xvfb-run -a -s "-screen 0 1024x768x24" timeout 120 "$app/Contents/MacOS/Unspool" \
  >"$work/wayland.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "Unspool did not fall back to xcb ($status): $(tail -n 5 "$work/wayland.log")"
[ -f "$work/wayland-tmp/Brindle_Lessons/$name/pagewright_files/index.html" ] ||
  fail "no lesson unpacked on xcb"

# A machine with the base system only.
status=0
root=$("$here/make-base-root.sh" "$@") || status=$?
if [ "$status" -eq 77 ]; then exit 77; fi
[ "$status" -eq 0 ] || fail "no base root"
if compgen -G "$root/usr/lib/x86_64-linux-gnu/libQt6*" >/dev/null ||
   compgen -G "$root/usr/lib/x86_64-linux-gnu/libminizip*" >/dev/null ||
   compgen -G "$root/usr/lib/x86_64-linux-gnu/libplist*" >/dev/null; then
  fail "the base root holds Qt or a library of ours"
fi

inside=/tmp/single-file-test.$$
mounted=()
cleanup() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [[ "$(readlink "$exe" 2>/dev/null)" == "$root$inside/"* ]] && kill -9 "$(basename "$(dirname "$exe")")" 2>/dev/null
  done
  local m
  for m in "${mounted[@]}"; do umount -l "$m" 2>/dev/null || true; done
  rm -rf --one-file-system "${root:?}$inside"
}
trap cleanup EXIT
mkdir -p -m 0700 "$root$inside/learner" "$root$inside/home"
cp "$run" "$root$inside/lesson.run"
mount -t proc proc "$root/proc" || { echo "single-file-test: cannot mount /proc in the root" >&2; exit 77; }
mounted+=("$root/proc")
mount --bind /dev "$root/dev" || { echo "single-file-test: cannot mount /dev in the root" >&2; exit 77; }
mounted+=("$root/dev")

status=0
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME="$inside/home" TMPDIR="$inside/learner" \
  QT_QPA_PLATFORM=offscreen timeout 120 sh "$inside/lesson.run" >"$work/root-run.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the single file failed in the base root ($status): $(tail -n 20 "$work/root-run.log")"

lesson="$root$inside/learner/Brindle_Lessons/$name"
[ -f "$lesson/pagewright_files/index.html" ] || fail "no start page in the lesson folder"
launcher="$lesson/Wayfarer.app/Contents/MacOS/Wayfarer"
started=""
for _ in $(seq 300); do
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$launcher" ] && started=yes
  done
  [ -n "$started" ] && break
  sleep 0.1
done
[ -n "$started" ] || fail "the setup launcher did not start: $(tail -n 20 "$work/root-run.log")"
echo "single-file-test: opened in the base root; lesson folder and setup launcher are there"
