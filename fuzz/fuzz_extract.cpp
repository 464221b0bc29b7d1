// libFuzzer entry: each input is written to a file, opened as a lesson archive and
// extracted into a fresh folder, which is removed again afterwards. Whatever the
// input, the extraction must not crash, leak, overflow or hang, and must not
// write outside its folder (the folder lives in a private parent that is checked
// to hold nothing else afterwards).
#include "Unspool/LessonArchive.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <unistd.h>

namespace
{

class Quiet : public LessonArchiveDelegate
{
  public:
    bool respondsTo(Message) const override { return true; }
};

const QString &workFolder()
{
    static const QString folder = [] {
        QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/fuzz-extract-XXXXXX";
        return QString::fromLocal8Bit(::mkdtemp(pattern.data()));
    }();
    return folder;
}

void writeInput(const QString &path, const uint8_t *data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
}

// Removes a tree by its bytes: names need not be valid in any text encoding.
void removeTree(const QString &path)
{
    ::nftw(
        QFile::encodeName(path).constData(),
        [](const char *item, const struct stat *, int, FTW *) {
            return ::remove(item) == 0 ? 0 : 1;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

// Everything in `folder` but what `expected` names; hidden and odd names included.
static QStringList strayEntries(const QString &folder, const QStringList &expected)
{
    QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                              QDir::NoDotAndDotDot);
    left.removeIf([&expected](const QString &name) { return expected.contains(name); });
    return left;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folder = workFolder();
    const QString archivePath = folder + "/input.zip";
    // Three levels down, so that an entry climbing out by one, two or three
    // levels lands where it is seen.
    const QString destination = folder + "/a/b/out";
    writeInput(archivePath, data, size);

    Quiet delegate;
    {
        LessonArchive archive;
        archive.setDelegate(&delegate);
        if (archive.UnzipOpenFile(archivePath))
            archive.UnzipFileTo(destination, true);
    }

    removeTree(destination);
    // Anything besides the input and the path down means an entry got out of its
    // destination.
    QStringList left = strayEntries(folder, {"input.zip", "a"});
    left += strayEntries(folder + "/a", {"b"});
    left += strayEntries(folder + "/a/b", {});
    if (!left.isEmpty()) {
        std::fprintf(stderr, "extraction left %s beside its destination\n",
                     qPrintable(left.join(", ")));
        std::abort();
    }
    return 0;
}
