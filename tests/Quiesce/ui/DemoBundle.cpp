// Lays out a stand-in application bundle for trying Quiesce by hand (see
// scripts/screenshot-quiesce.sh):
//   quiesce_demo_bundle <Name.app path> <CFBundleName> <CFBundleIconFile> <icon colour 0xRRGGBB>
// Its executable is a copy of sleep; the path of the executable is printed.
#include "Holders.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <bundle> <name> <icon file> <0xRRGGBB>\n", argv[0]);
        return 2;
    }
    bool ok = false;
    const unsigned rgb = QString::fromLocal8Bit(argv[4]).toUInt(&ok, 16);
    const QString executable = quiesce_test::makeApplicationBundle(
        QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
        QString::fromLocal8Bit(argv[3]), ok ? rgb : 0);
    if (executable.isEmpty())
        return 1;
    std::printf("%s\n", qPrintable(executable));
    return 0;
}
