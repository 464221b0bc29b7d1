#!/usr/bin/env bash
# Shows the Wayfarer window on a virtual screen and saves a picture of it.
#   scripts/screenshot-wayfarer.sh [build folder] [picture]
# Defaults: build/ and /tmp/wayfarer.png. The window has no window manager around it,
# so the picture shows the bare window at the top left of the screen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
picture=${2:-/tmp/wayfarer.png}
bundle="$build/bundles/Wayfarer.app"
[ -x "$bundle/Contents/MacOS/Wayfarer" ] || { echo "no Wayfarer bundle in $build" >&2; exit 1; }

# xvfb-run hands its command to a shell; the inner script waits for the window,
# takes the picture and ends the launcher it started.
export WAYFARER_EXE="$bundle/Contents/MacOS/Wayfarer" PICTURE="$picture"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  QT_QPA_PLATFORM=xcb "$WAYFARER_EXE" & pid=$!
  xdotool search --sync --onlyvisible --name "Lesson Setup" >/dev/null
  sleep 1
  import -window root "$PICTURE"
  kill "$pid"
  wait "$pid" || true
'
echo "saved $picture"
