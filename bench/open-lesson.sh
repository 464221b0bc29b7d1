#!/usr/bin/env bash
# What a learner waits for: lesson files opened on a virtual screen (Xvfb), timed to
# the lesson's first window and to the "Lesson Setup" window, beside `unzip -q` of the
# same lesson archive alone; with an empty and with a filled runtime cache.
#   bench/open-lesson.sh [build folder]     (default: build/, or $BUILD_DIR)
# REPETITIONS (default 5). Lessons: the sample; 1,500 pages with 12 MB of media; 200
# pages with a 120 MB video (made once, fixed seeds, in <build folder>/bench-data).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${BUILD_DIR:-$root/build}}")
repetitions=${REPETITIONS:-5}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" --target lesson-pack -j2 >/dev/null
data="$build/bench-data/open-lesson"
mkdir -p "$data"
python3 - "$root/samples/sample-lesson" "$data" <<'PY'
import os, random, shutil, sys
sample, data = sys.argv[1:]
def lesson(name, pages, media):
    folder = os.path.join(data, name)
    if os.path.exists(folder):
        return
    rng = random.Random(name)
    shutil.copytree(sample, folder + ".part")
    for i in range(pages):
        with open(f"{folder}.part/page-{i:04}.html", "w") as page:
            words = " ".join(rng.choice(["river", "bank", "silt", "flow", "bend", "delta"])
                             for _ in range(400))
            page.write(f"<html><body><h1>Page {i}</h1><p>{words}</p></body></html>\n")
    for i, size in enumerate(media):
        with open(f"{folder}.part/media-{i}.bin", "wb") as f:
            f.write(rng.randbytes(size))
    os.rename(folder + ".part", folder)
lesson("Sample Lesson", 0, [])
lesson("Fifteen Hundred Pages", 1500, [1 << 20] * 12)
lesson("Video Lesson", 200, [120 << 20])
PY
lessons=()
for name in "Sample Lesson" "Fifteen Hundred Pages" "Video Lesson"; do
  [ -f "$data/out/$name.run" ] ||
    "$build/tools/lesson-pack" --replace --single-file "$data/$name" "$name" "$data/out" >/dev/null 2>&1
  lessons+=("$name=$data/out/$name.run=$data/out/$name.app/Contents/Resources/archive.zip")
done
work=$(mktemp -d "$build/bench-open-XXXXXX")
xvfb-run -a -s "-screen 0 1280x800x24" python3 "$root/bench/open_lesson.py" "$work" \
  "$repetitions" "${lessons[@]}"
