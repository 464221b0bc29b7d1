#!/usr/bin/env bash
# single-file-test.sh LESSON-PACK SAMPLE WORK PACKAGE...: SAMPLE packed as single files, opened
# as a learner opens them. On the host: the bundles are self-contained, Unspool falls back to xcb
# from a Wayland setting, a damaged archive shows Unspool's alert. In a bare Debian root of the
# base PACKAGEs only (77: none here): opened by its path, the runtime is unpacked into the cache
# once and shared, two lessons opened at once, a half-filled cache, a noexec TMPDIR and a noexec
# cache, a truncated file and a damaged runtime.
set -euo pipefail
export LC_ALL=C
here=$(dirname "$0") pack=$1
screen="$here/../support/virtual-screen.sh" sample=$2 work=$3
shift 3
name="How Rivers Shape the Land" message="This lesson file is damaged or incomplete. Download it again."
fail() { echo "single-file-test: $*" >&2; exit 1; }
skip() { echo "single-file-test: skipped: $*" >&2; exit 77; }
# The ids of the running programs whose path matches a pattern.
running() { for exe in /proc/[0-9]*/exe; do [[ "$(readlink "$exe" 2>/dev/null)" != $1 ]] || echo "${exe//[^0-9]/}"; done; }
rm -rf "$work" && mkdir -p "$work/archive" && mkdir -m 0700 "$work/damaged-tmp" "$work/wayland-tmp"
convert -size 96x64 xc:'#c04020' "$work/icon.png"
"$pack" --single-file --icon "$work/icon.png" "$sample" "$name" "$work/out" >/dev/null
"$pack" --single-file "$sample" "Second Lesson" "$work/out" >/dev/null
app="$work/out/$name.app" run="$work/out/$name.run"
[ "$(stat -c %s "$run")" -le $((20 << 20)) ] || fail "the single file is over 20 MB"
bsdtar -xf "$app/Contents/Resources/archive.zip" -C "$work/archive"
"$here/check-bundle.sh" "$app" "$work/archive/Wayfarer.app" || fail "a bundle is not self-contained"
[ "$(head -c4 "$app/Contents/Resources/Lesson.icns")" = icns ] || fail "no Lesson.icns"

TMPDIR="$work/wayland-tmp" QT_QPA_PLATFORM=wayland "$screen" \
  timeout 120 "$app/Contents/MacOS/Unspool" >"$work/wayland.log" 2>&1 || fail "no fallback to xcb"
[ -f "$work/wayland-tmp/Brindle_Lessons/$name/pagewright_files/index.html" ] || fail "nothing unpacked on xcb"

# A damaged lesson archive is Unspool's to refuse, in its own words, before the launcher runs.
cp "$run" "$work/damaged.run"
at=$(grep -abo 'river.svg' "$work/damaged.run" | head -n1 | cut -d: -f1)
printf '\377\000\377' | dd of="$work/damaged.run" bs=1 seek=$((at + 40)) conv=notrunc status=none
HOME="$work/damaged-home" TMPDIR="$work/damaged-tmp" "$screen" sh -c '
  timeout 120 "$0" & timeout 60 xdotool search --sync --onlyvisible --name "^Unspool\$" >/dev/null &&
    sleep 1 && xdotool key Return
  wait $!' "$work/damaged.run" >"$work/damaged.log" 2>&1 && fail "a damaged lesson ran, or showed no alert"

# The base root: Debian's minimal set and PACKAGEs only, made once and cached.
status=0 && root=$("$here/debian-root.sh" "$work/debootstrap.log" "$@") || status=$?
[ $status -ne 77 ] || skip "debootstrap and chroot need root"
[ $status -eq 0 ] || fail "no base root"
[ -z "$(find "$root/usr/lib/x86_64-linux-gnu" -maxdepth 1 -name 'libQt6*' -o -name 'libminizip*' -o -name 'libplist*')" ] ||
  fail "the base root holds Qt or a library of ours"
inside=/tmp/single-file-test.$$ in="$root/tmp/single-file-test.$$"
stop_programs() { kill -9 $(running "$in/*") 2>/dev/null || true; }
cleanup() {
  stop_programs
  umount -l "$in/learner" "$in/cache" "$root/proc" "$root/dev" 2>/dev/null || true
  rm -rf --one-file-system "$in"
}
trap cleanup EXIT
mount -t proc proc "$root/proc" && mount --bind /dev "$root/dev" || skip "cannot mount in the root"
# A learner's fresh state: a home, a private TMPDIR, the lesson files (the first with its
# execute bit only once given, as after a download).
fresh() {
  stop_programs
  umount -l "$in/learner" "$in/cache" 2>/dev/null || true
  rm -rf --one-file-system "$in" && mkdir -p -m 0700 "$in/learner" "$in/home" "$in/cache"
  cp "$run" "$in/lesson.run" && cp "$work/out/Second Lesson.run" "$in/second.run"
  chmod 0644 "$in/lesson.run" && chmod 0755 "$in/second.run"
}
# open FILE [VAR=VALUE...]: the learner opens a lesson file in the root; its output in $work/open.log.
open() {
  local file=$1 && shift
  chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME="$inside/home" TMPDIR="$inside/learner" \
    QT_QPA_PLATFORM=offscreen "$@" timeout 120 "$inside/$file" >"$work/open.log" 2>&1
}
# The lesson's setup launcher runs from the lesson folder FOLDER (in the root).
launched() {
  [ -f "$in/$1/pagewright_files/index.html" ] || fail "$2: no start page in $1: $(cat "$work/open.log")"
  [ "$(stat -c %a "$in/$1")" = 700 ] || fail "$2: the lesson folder is open to others"
  for _ in $(seq 300); do
    [ -z "$(running "$in/$1/Wayfarer.app/Contents/MacOS/Wayfarer")" ] || return 0
    sleep 0.1
  done
  fail "$2: the setup launcher did not start: $(cat "$work/open.log")"
}
runtimes="$in/home/.cache/brindle/runtimes"
lessons="learner/Brindle_Lessons"

fresh
! open lesson.run || fail "a file without its execute bit ran"
chmod u+x "$in/lesson.run"
open lesson.run || fail "the lesson file failed: $(cat "$work/open.log")"
launched "$lessons/$name" "opened by its path"
[ "$(ls -A "$runtimes" | grep -vc '^\.lock$')" = 1 ] || fail "not one runtime in the cache: $(ls -A "$runtimes")"
runtime=$(ls "$runtimes") && stamp=$(stat -c %i.%Y "$runtimes/$runtime/Unspool.app/Contents/MacOS/Unspool")
open second.run || fail "a second lesson failed: $(cat "$work/open.log")"
launched "$lessons/Second Lesson" "a second lesson"
[ "$(ls "$runtimes")" = "$runtime" ] && [ "$(stat -c %i.%Y "$runtimes/$runtime/Unspool.app/Contents/MacOS/Unspool")" = "$stamp" ] ||
  fail "the second lesson did not reuse the cached runtime"

fresh
chmod u+x "$in/lesson.run"
open lesson.run & first=$!
open second.run || fail "one of two lessons opened at once failed: $(cat "$work/open.log")"
wait $first || fail "one of two lessons opened at once failed"
launched "$lessons/$name" "opened at once" && launched "$lessons/Second Lesson" "opened at once"
[ "$(ls -A "$runtimes")" = "$(printf '.lock\n%s' "$runtime")" ] || fail "two lessons at once left $(ls -A "$runtimes")"

# What a fill cut short leaves: a partial folder, and a runtime missing the end of a library.
stop_programs
mkdir "$runtimes/.fill-Xy12Z9" && echo partial >"$runtimes/.fill-Xy12Z9/libQt6Core.so.6"
truncate -s -4096 "$runtimes/$runtime/Unspool.app/Contents/Frameworks/libQt6Core.so.6"
open second.run || fail "a half-filled cache stopped the lesson: $(cat "$work/open.log")"
launched "$lessons/Second Lesson" "a half-filled cache"
[ "$(ls -A "$runtimes")" = "$(printf '.lock\n%s' "$runtime")" ] || fail "a half-filled cache left $(ls -A "$runtimes")"

fresh
mount -t tmpfs -o noexec,mode=0700 tmpfs "$in/learner" || skip "cannot mount a tmpfs"
open second.run || fail "a noexec TMPDIR stopped the lesson: $(cat "$work/open.log")"
launched "home/Brindle_Lessons/Second Lesson" "a noexec TMPDIR"
mount -t tmpfs -o noexec,mode=0700 tmpfs "$in/cache"
! open second.run XDG_CACHE_HOME="$inside/cache" || fail "a lesson ran from a noexec cache"
grep -q "noexec" "$work/open.log" || fail "no word of noexec: $(cat "$work/open.log")"

# Damage in the file: nothing of it runs, nothing is left, and the learner is told.
fresh
head -c -100 "$run" >"$in/truncated.run" && chmod +x "$in/truncated.run"
inline=$(tail -c 65536 "$run" | grep -a ' inline .* Unspool.app/Contents/MacOS/Unspool$' | cut -d' ' -f6)
cp "$run" "$in/flipped.run" && printf '\125' | dd of="$in/flipped.run" bs=1 seek=$((inline + 2000)) conv=notrunc status=none
for file in truncated.run flipped.run; do
  ! open "$file" || fail "$file ran"
  grep -qF "$message" "$work/open.log" || fail "$file: no message: $(cat "$work/open.log")"
  [ -z "$(ls "$runtimes" 2>/dev/null | grep -v '^\.lock$')" ] && [ ! -e "$in/$lessons" ] || fail "$file left files behind"
done
