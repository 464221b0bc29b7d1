// Extracts one archive with LessonArchive, overwriting, and prints what happened,
// one line per event, so that a test can run it as a child process: a crash, a
// hang, a file-size limit or a preloaded fault then touches the child only.
//   extract_probe ARCHIVE DESTINATION [PASSWORD]
// Lines: "open YES|NO", "message <text>", "progress <done> <total>" (the last
// one), "complete", "result YES|NO".
#include "LessonArchive.h"

#include <cstdio>

namespace
{

class Recorder : public LessonArchiveDelegate
{
  public:
    bool respondsTo(Message) const override { return true; }
    void ErrorMessage(const QString &message) override
    {
        std::printf("message %s\n", message.toUtf8().constData());
    }
    void ExtractionProgress(int done, int total) override
    {
        _done = done;
        _total = total;
    }
    void ExtractionComplete() override { std::printf("complete\n"); }
    void printProgress() const
    {
        if (_done > 0)
            std::printf("progress %d %d\n", _done, _total);
    }

  private:
    int _done = 0;
    int _total = 0;
};

const char *yesNo(bool value)
{
    return value ? "YES" : "NO";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: extract_probe ARCHIVE DESTINATION [PASSWORD]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Recorder recorder;
    LessonArchive archive;
    archive.setDelegate(&recorder);
    const QString path = QString::fromLocal8Bit(argv[1]);
    const bool opened = argc > 3 ? archive.UnzipOpenFile(path, QString::fromLocal8Bit(argv[3]))
                                 : archive.UnzipOpenFile(path);
    std::printf("open %s\n", yesNo(opened));
    if (!opened)
        return 0;
    const bool extracted = archive.UnzipFileTo(QString::fromLocal8Bit(argv[2]), true);
    recorder.printProgress();
    std::printf("result %s\n", yesNo(extracted));
    return 0;
}
