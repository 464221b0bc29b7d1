#include "FaultLesson.h"

#include "ProcessRunner.h"

namespace
{

const char kScript[] = R"(import random, sys, zipfile
plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
         b'<key>CFBundleExecutable</key><string>Wayfarer</string></dict></plist>\n')
launcher = b'#!/bin/sh\n[ -n "$HOSTILE_MARKER" ] && echo started > "$HOSTILE_MARKER"\n'
noise = random.Random(7).randbytes(3 * 1024 * 1024 + 12345)
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("Wayfarer.app/Contents/Info.plist", plist)
    z.writestr("Wayfarer.app/Contents/MacOS/Wayfarer", launcher)
    z.writestr("pagewright_files/index.html", b"<p>lesson</p>\n" * 100)
    z.writestr("pagewright_files/media.bin", noise)
)";

} // namespace

bool writeFaultLesson(const QString &zipPath)
{
    const platform::ProcessResult made =
        platform::runProcess("python3", {"-c", QString::fromLatin1(kScript), zipPath});
    return made.started && made.exitCode == 0;
}
