#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds the programs and the
# packer (not the tests), packs the sample lesson into out/ as a bundle and as the
# single file a learner gets, and opens the single file.
#
# On a desktop ($DISPLAY or $WAYLAND_DISPLAY set) the packed lesson is started the
# way a learner starts it (a double-click runs "<Lesson>.run"): the Unspool window with its progress bar, then the
# Wayfarer window, whose "Launch Lesson" button opens the sample in the default
# browser. Without a display the same programs run offscreen; the script then
# reports where the lesson was unpacked and that the setup launcher started, and
# ends the launcher again, since nobody can press its buttons.
#
# Environment: BUILD_DIR (default build/), OUT_DIR (default out/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${OUT_DIR:-$root/out}
name="How Rivers Shape the Land"

bash "$root/scripts/setup.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" -DBUILD_TESTING=OFF

"$build/tools/lesson-pack" --replace --single-file "$root/samples/sample-lesson" "$name" "$out" >/dev/null
run="$out/$name.run"
echo "run-sample: packed the sample lesson as $out/$name.app and $run"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-sample: opening it; press \"Launch Lesson\" in the Lesson Setup window"
  exec "$run"
fi

echo "run-sample: no display; running the lesson offscreen"
status=0
QT_QPA_PLATFORM=offscreen timeout 120 "$run" || status=$?
if [ "$status" -ne 0 ]; then
  echo "run-sample: Unspool did not finish cleanly (exit status $status)" >&2
  exit 1
fi

# Unspool starts Wayfarer in a session of its own, from the lesson folder it made;
# find it by its executable, and the folder by it.
launcher_suffix="/Brindle_Lessons/$name/Wayfarer.app/Contents/MacOS/Wayfarer"
find_wayfarer() {
  local exe target
  for exe in /proc/[0-9]*/exe; do
    target=$(readlink "$exe" 2>/dev/null) || continue
    if [[ "$target" == *"$launcher_suffix" ]]; then
      pid=$(basename "$(dirname "$exe")")
      lesson=${target%/Wayfarer.app/Contents/MacOS/Wayfarer}
      return 0
    fi
  done
  return 1
}
pid=""
lesson=""
for _ in $(seq 100); do
  find_wayfarer && break
  sleep 0.1
done

if [ -z "$pid" ]; then
  echo "run-sample: the setup launcher did not start" >&2
  exit 1
fi
echo "run-sample: lesson folder: $lesson"
echo "run-sample:   setup launcher: $lesson/Wayfarer.app"
echo "run-sample:   start page:     $lesson/pagewright_files/index.html"
echo "run-sample: the setup launcher Wayfarer started offscreen (pid $pid); ending it, since"
echo "run-sample: without a display nobody can press its buttons"
kill "$pid"
echo "run-sample: to read the lesson, open $lesson/pagewright_files/index.html in a browser"
