// Extracts one archive with LessonArchive, overwriting, in a child of a test, which a
// crash, hang or fault then touches alone.   extract_probe ARCHIVE DESTINATION [PASSWORD]
// Prints "open YES|NO", one "message <text>" per error, "complete" when the extraction
// reports completion, and "result YES|NO".
#include "Unspool/LessonArchive.h"

#include <cstdio>

struct Printer : LessonArchiveDelegate {
    bool respondsTo(Message) const override { return true; }
    void ErrorMessage(const QString &text) override
    {
        std::printf("message %s\n", text.toUtf8().constData());
    }
    void ExtractionComplete() override { std::printf("complete\n"); }
};

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
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
