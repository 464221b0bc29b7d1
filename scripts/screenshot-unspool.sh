#!/usr/bin/env bash
# Shows the Unspool window mid-extraction on a virtual screen and saves a picture.
#   scripts/screenshot-unspool.sh [build folder] [picture] [seconds before the picture]
# Defaults: build/, /tmp/unspool.png, 0.5. The lesson is a copy of the built bundle
# named "Rivers and Valleys.app" carrying 200 files of 2 MB random data, so that
# the bar is still on its way when the picture is taken. Everything it writes goes
# to a scratch folder that is removed at the end. There is no window manager, so the
# picture shows the bare window at the top left of the screen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
picture=${2:-/tmp/unspool.png}
delay=${3:-0.5}
bundle="$build/bundles/Unspool.app"
[ -x "$bundle/Contents/MacOS/Unspool" ] || { echo "no Unspool bundle in $build" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
lesson="$scratch/Rivers and Valleys.app"
cp -R "$bundle" "$lesson"
mkdir -p "$scratch/tmp"
chmod 700 "$scratch/tmp"

python3 - "$lesson/Contents/Resources/archive.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as archive:
    archive.writestr("Wayfarer.app/Contents/Info.plist",
        '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
        '<key>CFBundleExecutable</key><string>Wayfarer</string></dict></plist>\n')
    archive.writestr("Wayfarer.app/Contents/MacOS/Wayfarer", "#!/bin/sh\nexit 0\n")
    for number in range(200):
        archive.writestr("pagewright_files/media/clip%03d.bin" % number, os.urandom(2 * 1024 * 1024))
PY

# xvfb-run hands its command to a shell; the inner script waits for the window,
# takes the picture and ends the program it started.
export UNSPOOL_EXE="$lesson/Contents/MacOS/Unspool" PICTURE="$picture" DELAY="$delay"
export TMPDIR="$scratch/tmp"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  QT_QPA_PLATFORM=xcb "$UNSPOOL_EXE" & pid=$!
  if ! timeout 30 xdotool search --sync --onlyvisible --name "Rivers and Valleys" >/dev/null; then
    echo "the Unspool window did not show" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
  fi
  sleep "$DELAY"
  kill -0 "$pid" 2>/dev/null || { echo "Unspool ended before the picture" >&2; exit 1; }
  import -window root "$PICTURE"
  kill "$pid" 2>/dev/null || true
  wait "$pid" || true
'
echo "saved $picture"
