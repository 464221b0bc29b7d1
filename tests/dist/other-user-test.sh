#!/usr/bin/env bash
# other-user-test.sh LESSON-PACK SAMPLE WORK: another user of the same machine against an author
# who packs and a learner who opens the lesson file, with a shared TMPDIR (root's, mode 1777):
# - while SAMPLE is packed, the other user writes into everything he can reach in TMPDIR and
#   plants names there; the lesson file comes out as packed without him, and nothing is left;
# - he takes the learner's name user-<uid> in TMPDIR first: the lesson still opens, in home;
# - the learner's download folder is his (mode 0755): the lesson lands in the home folder.
# Needs root to act as the two users (77 otherwise).
set -euo pipefail
export LC_ALL=C
pack=$1 sample=$2 work=$3
name="How Rivers Shape the Land"
fail() { echo "other-user-test: $*" >&2; exit 1; }
skip() { echo "other-user-test: skipped: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null || skip "acting as other users needs root"
# Two numeric users no account uses: the author and learner, and the other user.
me=47101 other=47102
as() { local uid=$1 && shift && setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"; }
# The ids of the running programs whose path matches a pattern.
running() { for exe in /proc/[0-9]*/exe; do [[ "$(readlink "$exe" 2>/dev/null)" != $1 ]] || echo "${exe//[^0-9]/}"; done; }
# Where both users can reach, whatever the checkout's folder allows.
box=$(mktemp -d /tmp/other-user-test.XXXXXX) && chmod 0755 "$box"
watcher=
cleanup() {
  [ -z "$watcher" ] || pkill -9 -u "$other" || true
  kill -9 $(running "$box/*") 2>/dev/null || true
  rm -rf --one-file-system "$box"
}
trap cleanup EXIT
rm -rf "$work" && mkdir -p "$work"
shared=$box/shared && mkdir -m 1777 "$shared"
home() { rm -rf "$box/home" && mkdir -m 0700 "$box/home" && chown "$me:$me" "$box/home"; }

# The runtime a lesson file names and its archive's entries with their sizes and CRCs: what
# the learner gets, leaving out the times a packing run gives its own copies.
contents() {
  # unzip warns of the starter before the archive, and says so in its status.
  { unzip -z "$1" || true; } | grep '^runtime '
  { unzip -v "$1" 2>/dev/null || true; } | awk 'length($7) == 8 && $7 ~ /^[0-9a-f]+$/ { $5 = $6 = ""; print }'
}

# The author packs in a private TMPDIR first, as the reference. When the checkout is out of the
# other users' reach, root stands in for the author: the shared TMPDIR is what is attacked.
author=$me
as "$me" test -x "$pack" -a -r "$sample/index.html" || author=0
mkdir -p "$box/author" "$box/author/private" && chown -R "$author:$author" "$box/author"
chmod 0700 "$box/author/private"
as "$author" env TMPDIR="$box/author/private" HOME="$box/author" \
  "$pack" --single-file "$sample" "$name" "$box/author/reference" >/dev/null 2>"$work/pack.log" ||
  fail "the reference pack failed: $(cat "$work/pack.log")"
reference="$box/author/reference/$name.run"
contents "$reference" >"$work/reference.txt"
[ -s "$work/reference.txt" ] && grep -q '^runtime ' "$work/reference.txt" || fail "no contents read"

# Then in the shared TMPDIR, while the other user plants files and links under names there,
# the packer's own among them, and writes into whatever of the author's he can open: what he
# wrote to in $work/wrote.log, and every entry of the author's he saw in $work/seen.log.
as "$other" bash -c '
  for n in lesson-pack lesson-pack-0 qt_temp scratch with-icon Unspool.app Wayfarer.app; do
    ln -s /dev/null "$0/$n.link" 2>/dev/null; echo planted >"$0/$n" 2>/dev/null; done
  while :; do
    find "$0" -mindepth 1 ! -user "$(id -u)" -printf "%y %m %P\n" 2>/dev/null >>"$1"
    find "$0" -mindepth 1 ! -user "$(id -u)" 2>/dev/null | while read -r f; do
      if [ -d "$f" ]; then echo planted 2>/dev/null >"$f/planted" && echo "made $f/planted"
      else echo "#!/bin/sh" | dd of="$f" oflag=append conv=notrunc,nocreat 2>/dev/null &&
        echo "wrote $f"; fi
    done
  done' "$shared" "$work/seen.log" >"$work/wrote.log" 2>/dev/null &
watcher=$!
touch "$work/seen.log" && chown "$other" "$work/seen.log"
as "$author" env TMPDIR="$shared" HOME="$box/author" \
  "$pack" --single-file "$sample" "$name" "$box/author/attacked" >/dev/null 2>"$work/pack.log" ||
  fail "packing in the shared TMPDIR failed: $(cat "$work/pack.log")"
pkill -9 -u "$other" || true
watcher=
[ ! -s "$work/wrote.log" ] || fail "the other user reached the packer's files: $(head "$work/wrote.log")"
# All the author's scratch files lie in one private folder: no entry of his but that is seen.
sort -u "$work/seen.log" | grep -v '^d 700 lesson-pack-[^/]*$' >"$work/seen-else.log" || true
[ ! -s "$work/seen-else.log" ] || fail "the packer's scratch files lie in TMPDIR: $(head "$work/seen-else.log")"
[ -n "$(sort -u "$work/seen.log")" ] || fail "the other user saw nothing of the packer's"
contents "$box/author/attacked/$name.run" | diff "$work/reference.txt" - >"$work/contents.diff" ||
  fail "the lesson file differs from one packed without the other user: $(head "$work/contents.diff")"
[ -z "$(find "$shared" -mindepth 1 -user "$author")" ] || fail "the packer left files in TMPDIR"

# open WHAT [VAR=VALUE...]: the learner opens a copy of the lesson file from their home.
open() {
  local what=$1 && shift
  install -m 0755 -o "$me" -g "$me" "$reference" "$box/home/lesson.run"
  install -d -m 0700 -o "$me" -g "$me" "$box/home/run"
  as "$me" env -i PATH=/usr/bin:/bin HOME="$box/home" XDG_RUNTIME_DIR="$box/home/run" \
    QT_QPA_PLATFORM=offscreen "$@" \
    timeout 120 "$box/home/lesson.run" >"$work/open.log" 2>&1 || fail "$what: the lesson did not open: $(cat "$work/open.log")"
}
# The lesson landed, privately, in FOLDER, and its setup launcher runs from there.
landed() {
  local lesson="$1/Brindle_Lessons/$name"
  [ -f "$lesson/pagewright_files/index.html" ] || fail "$2: no start page in $lesson: $(cat "$work/open.log")"
  [ "$(stat -c %u:%a "$lesson")" = "$me:700" ] || fail "$2: the lesson folder is not the learner's alone"
  for _ in $(seq 300); do
    if [ -n "$(running "$lesson/Wayfarer.app/Contents/MacOS/Wayfarer")" ]; then
      kill -9 $(running "$box/*") 2>/dev/null || true
      return 0
    fi
    sleep 0.1
  done
  fail "$2: the setup launcher did not start: $(cat "$work/open.log")"
}

# The other user takes the learner's user-<uid> in the shared TMPDIR first, as a folder of his
# open to all: the lesson opens all the same, out of his reach.
home
as "$other" mkdir -m 0777 "$shared/user-$me"
open "a taken user folder" TMPDIR="$shared"
landed "$box/home" "a taken user folder"
[ -z "$(find "$shared/user-$me" -mindepth 1)" ] || fail "the learner wrote into the other user's folder"
rm -rf "${shared:?}/user-$me" && as "$other" ln -s "$box/home" "$shared/user-$me"
home
open "a link in the user folder's place" TMPDIR="$shared"
landed "$box/home" "a link in the user folder's place"

# The download folder the learner's user-dirs.dirs names is the other user's, mode 0755.
home
mkdir -m 0755 "$box/home/Downloads" && chown "$other:$other" "$box/home/Downloads"
mkdir -p "$box/home/.config" && echo 'XDG_DOWNLOAD_DIR="$HOME/Downloads"' >"$box/home/.config/user-dirs.dirs"
chown -R "$me:$me" "$box/home/.config"
open "another user's download folder"
landed "$box/home" "another user's download folder"
[ -z "$(find "$box/home/Downloads" -mindepth 1)" ] || fail "the learner wrote into another user's download folder"
echo "other-user-test: passed"
