// What the extraction makes of the destination it is given: folders made only
// inside it while someone swaps links in.
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
                                 << testfiles::snapshot(outside).join('\n').toStdString();
}

} // namespace
