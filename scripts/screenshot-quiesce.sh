#!/bin/bash
# Shows Quiesce.app on a virtual screen with four applications holding the user's
# copy of the plug-in open (two bundles, one desktop entry, one plain process), and
# saves a screenshot of the whole screen.
#   scripts/screenshot-quiesce.sh [build folder] [output.png]
# Needs xvfb-run, xdotool and ImageMagick's import and convert. Nothing outside a temporary
# folder is touched; the holders and Quiesce are ended afterwards.
set -euo pipefail

build=$(realpath "${1:-build}")
output=${2:-/tmp/quiesce.png}
cmake --build "$build" --target Quiesce

work=$(mktemp -d)
holders=()
cleanup() {
    for pid in "${holders[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

home=$work/home
plugin="$home/Library/Internet Plug-Ins/Glimmer Player.plugin/Contents/MacOS/Glimmer Player"
mkdir -p "$(dirname "$plugin")"
echo "plug-in code" >"$plugin"

# A stand-in application bundle: a copy of sleep, its name, and an icon of one
# colour in an icns file (one 128-pixel PNG image).
bundle() { # <bundle> <name> <icon file> <colour>
    mkdir -p "$1/Contents/MacOS" "$1/Contents/Resources"
    cp /bin/sleep "$1/Contents/MacOS/app"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>%s%s%s</dict></plist>\n' \
        '<key>CFBundleExecutable</key><string>app</string>' \
        "<key>CFBundleName</key><string>$2</string>" \
        "<key>CFBundleIconFile</key><string>$3</string>" >"$1/Contents/Info.plist"
    convert -size 128x128 xc:none -fill "$4" -draw 'roundrectangle 8,8 119,119 24,24' "$work/icon.png"
    python3 -c 'import struct, sys; png = open(sys.argv[1], "rb").read()
sys.stdout.buffer.write(b"icns" + struct.pack(">I", len(png) + 16) + b"ic07" + struct.pack(">I", len(png) + 8) + png)' \
        "$work/icon.png" >"$1/Contents/Resources/${3%.icns}.icns"
    echo "$1/Contents/MacOS/app"
}
sketch=$(bundle "$work/Apps/Sketch Pad.app" "Sketch Pad" AppIcon '#2f80ed')
reader=$(bundle "$work/Apps/Story Reader.app" "Story Reader" Reader.icns '#f2994a')

# An application known by its desktop entry, in a data folder of its own.
data=$work/share
mkdir -p "$data/applications" "$work/bin"
cp /bin/sleep "$work/bin/lesson-notes"
convert -size 64x64 xc:none -fill '#27ae60' -draw 'roundrectangle 4,4 59,59 12,12' \
    "$work/lesson-notes.png"
printf '%s\n' '[Desktop Entry]' 'Type=Application' 'Name=Lesson Notes' \
    "Exec=$work/bin/lesson-notes %F" "Icon=$work/lesson-notes.png" \
    >"$data/applications/org.example.LessonNotes.desktop"

# Each holder keeps the plug-in open on descriptor 3 while it sleeps.
for program in "$sketch" "$reader" "$work/bin/lesson-notes" /bin/sleep; do
    (exec 3<"$plugin"; exec "$program" 600) &
    holders+=($!)
done

quiesce=$build/bundles/Quiesce.app/Contents/MacOS/Quiesce
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    HOME="$1" XDG_DATA_DIRS="$4:/usr/share" "$2" &
    quiesce=$!
    xdotool search --sync --onlyvisible --pid "$quiesce" --name "^Close Applications$" >/dev/null
    sleep 1 # let the first frame be painted
    import -window root "$3"
    kill "$quiesce"
' screenshot "$home" "$quiesce" "$output" "$data"
echo "screenshot: $output"
