// Extracts one archive with LessonArchive, overwriting, and prints what happened, so
// that a test can run it as a child: a crash, a hang, a file-size limit or a preloaded
// fault then touches the child only.   extract_probe ARCHIVE DESTINATION [PASSWORD]
// Prints "open YES|NO", then one "message <text>" per error, "complete" when the
// extraction reports completion, and "result YES|NO".
#include "LessonArchive.h"

#include <cstdio>

namespace
{

struct Printer : LessonArchiveDelegate {
    bool respondsTo(Message) const override { return true; }
    void ErrorMessage(const QString &text) override
    {
        std::printf("message %s\n", text.toUtf8().constData());
    }
    void ExtractionComplete() override { std::printf("complete\n"); }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Printer printer;
    LessonArchive archive;
    archive.setDelegate(&printer);
    const QString path = QString::fromLocal8Bit(argv[1]);
    const bool opened = argc > 3 && *argv[3]
                            ? archive.UnzipOpenFile(path, QString::fromLocal8Bit(argv[3]))
                            : archive.UnzipOpenFile(path);
    std::printf("open %s\n", opened ? "YES" : "NO");
    if (opened)
        std::printf("result %s\n",
                    archive.UnzipFileTo(QString::fromLocal8Bit(argv[2]), true) ? "YES" : "NO");
    return 0;
}
