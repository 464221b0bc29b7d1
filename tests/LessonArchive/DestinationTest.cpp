// What the extraction makes of the destination it is given: folders made only
// inside it while someone swaps links in, and the room a re-run needs there.
#include "ArchiveSpaceNeed.h"
#include "ArchiveTestSupport.h"
#include "LessonArchive.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace archivetest;

namespace
{

QByteArray bytes(const QString &path)
{
    return QFile::encodeName(path);
}

// While a lesson of many nested folders is extracted, another thread keeps
// exchanging its top folder with a link to a folder outside. Every folder the
// extraction makes must land inside the destination, whether the run fails or not.
TEST(SwappedLinks, NeverLeadFolderCreationOutside)
{
    QTemporaryDir tmp;
    const QString archive = tmp.path() + "/nested.zip";
    QList<QPair<QString, QString>> entries;
    for (int i = 0; i < 200; ++i)
        entries.append({QStringLiteral("top/a%1/b/c/page.txt").arg(i), QStringLiteral("x")});
    ASSERT_TRUE(makePythonArchive(archive, "stored", entries));
    const QString outside = tmp.path() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside));

    LessonArchive zip;
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    ASSERT_TRUE(zip.UnzipFileTo(tmp.path() + "/control", true)); // positive control
    const auto outsideHolds = [&outside] {
        return !QDir(outside)
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty();
    };

    constexpr int kRuns = 100;
    int run = 0;
    for (; run < kRuns && !outsideHolds(); ++run) {
        const QString destination = tmp.path() + QStringLiteral("/runs/%1").arg(run);
        const QByteArray top = bytes(destination + "/top");
        const QByteArray swap = bytes(destination + "/swap");
        ASSERT_TRUE(QDir().mkpath(destination + "/top"));
        ASSERT_EQ(::symlink(bytes(outside).constData(), swap.constData()), 0);
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            while (!stop)
                ::renameat2(AT_FDCWD, top.constData(), AT_FDCWD, swap.constData(), RENAME_EXCHANGE);
        });
        zip.UnzipFileTo(destination, true); // fails whenever it meets the link
        stop = true;
        swapper.join();
    }
    EXPECT_FALSE(outsideHolds()) << "after " << run << " runs: "
                                 << testfiles::tree(outside).join('\n').toStdString();
}

// ---- The room a run needs.

struct SpaceCase {
    const char *what;
    void (*plant)(const QString &dest, const QString &box); // what earlier runs left
    std::uint64_t needed;
};

std::ostream &operator<<(std::ostream &os, const SpaceCase &c)
{
    return os << c.what;
}

class SpaceNeeded : public ::testing::TestWithParam<SpaceCase>
{
};

// The lesson: a.bin of 1000 bytes, then b.bin of 3000.
TEST_P(SpaceNeeded, CountsOnlyWhatAReplacementFrees)
{
    QTemporaryDir tmp;
    const QString dest = tmp.path() + "/dest";
    ASSERT_TRUE(QDir().mkpath(dest));
    GetParam().plant(dest, tmp.path());
    QList<ArchiveCentralEntry> entries(2);
    entries[0].name = "a.bin";
    entries[0].uncompressedSize = 1000;
    entries[1].name = "./b.bin"; // the name as the extraction takes it apart
    entries[1].uncompressedSize = 3000;
    EXPECT_EQ(ArchiveSpaceNeed::bytesNeeded(entries, bytes(dest)), GetParam().needed);
}

void earlierRun(const QString &dest, const QString &)
{
    ASSERT_TRUE(testfiles::write(dest + "/a.bin", QByteArray(1000, 'a')));
    ASSERT_TRUE(testfiles::write(dest + "/b.bin", QByteArray(3000, 'b')));
}

const SpaceCase kSpaceCases[] = {
    {"into a fresh folder every entry counts", [](const QString &, const QString &) {}, 4000},
    // Everything is replaced, yet b.bin's old and new copies stand side by side.
    {"replaced files are freed, but not before their entry is written", earlierRun, 3000},
    {"a file with another link frees nothing",
     [](const QString &dest, const QString &box) {
         earlierRun(dest, box);
         ASSERT_EQ(::link(bytes(dest + "/a.bin").constData(), bytes(box + "/kept").constData()), 0);
     },
     4000},
    {"a link frees nothing of what it points at",
     [](const QString &dest, const QString &box) {
         ASSERT_TRUE(testfiles::write(box + "/big", QByteArray(5000, 'x')));
         ASSERT_TRUE(testfiles::write(dest + "/b.bin", QByteArray(3000, 'b')));
         ASSERT_EQ(::symlink(bytes(box + "/big").constData(), bytes(dest + "/a.bin").constData()),
                   0);
     },
     4000},
};

INSTANTIATE_TEST_SUITE_P(Rows, SpaceNeeded, ::testing::ValuesIn(kSpaceCases));

} // namespace
