// The packer on lessons past the old ZIP limits, read back by Info-ZIP and Python's
// zipfile; its memory on a big file; a run ended by a signal. Big files are sparse:
// they cost time, not disk.
#include "ChildRun.h"
#include "PackerHarness.h"
#include "ProcessRunner.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace packertest;

namespace
{

// zipfile's check of every entry, the count, the entries with a ZIP64 block, and
// whether the archive ends in the 64-bit end records.
const char kZipfileCheck[] = R"(
import struct, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print("bad", z.testzip(), "entries", len(z.infolist()))
for i in z.infolist():
    at = 0
    while at + 4 <= len(i.extra):
        kind, size = struct.unpack_from("<HH", i.extra, at)
        print("zip64", i.filename) if kind == 1 else None
        at += 4 + size
print("end64", open(sys.argv[1], "rb").read()[-42:][:4] == b"PK\x06\x07")
)";

class PackerLarge : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeFakeBundle(tmp.filePath("Unspool.app"), "Unspool") &&
                    writeFakeBundle(tmp.filePath("Wayfarer.app"), "Wayfarer") &&
                    testfiles::write(tmp.filePath("content/index.html"), "<h1>Start</h1>"));
    }
    QStringList arguments() const
    {
        return {"--unspool",
                tmp.filePath("Unspool.app"),
                "--wayfarer",
                tmp.filePath("Wayfarer.app"),
                tmp.filePath("content"),
                "Lesson",
                tmp.filePath("out")};
    }
    QString archive() const
    {
        return tmp.filePath("out/Lesson.app/Contents/Resources/archive.zip");
    }
    bool sparseFile(qint64 size) const
    {
        QFile file(tmp.filePath("content/video.bin"));
        return file.open(QIODevice::WriteOnly) && file.resize(size);
    }
    void pack() const
    {
        const childrun::Outcome end =
            childrun::run({packerExecutable(), arguments(), {}, -1, 3600000});
        ASSERT_EQ(end.exitCode, 0) << end.output.constData();
    }
    QStringList zipfileSays() const
    {
        return QString::fromUtf8(
                   platform::runProcess("python3", {"-c", kZipfileCheck, archive()}).output)
            .split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir tmp;
};

// A file over 4 GiB gets ZIP64 sizes, and the packer's memory stays small: it
// streams. First, so that no earlier child's peak counts among our children's.
TEST_F(PackerLarge, AFileOverFourGigabytesGetsZip64SizesInLittleMemory)
{
    ASSERT_TRUE(sparseFile(qint64(4500) << 20));
    pack();
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 64 * 1024) << "peak resident KiB";
    EXPECT_EQ(zipfileSays(), QStringList({"bad None entries 4", "zip64 pagewright_files/video.bin",
                                          "end64 False"}));
}

TEST_F(PackerLarge, SeventyThousandFilesGetZip64EndRecords)
{
    for (int i = 0; i < 70000; ++i)
        ASSERT_TRUE(
            testfiles::write(tmp.filePath("content/many/%1.txt").arg(i), QByteArray::number(i)));
    pack();
    EXPECT_TRUE(unzipTestPasses(archive()));
    EXPECT_EQ(zipfileSays(), QStringList({"bad None entries 70003", "end64 True"}));
    EXPECT_EQ(entryContent(archive(), "pagewright_files/many/69999.txt"), "69999");
}

class PackerSignal : public PackerLarge, public ::testing::WithParamInterface<int>
{
};

// Ended while it writes the archive in its staging folder: the staging folder and
// the output folder, which the run made, are gone, and the signal ends it.
TEST_P(PackerSignal, LeavesNoStagingFolderAndNoLesson)
{
    ASSERT_TRUE(sparseFile(qint64(4096) << 20));
    QProcess packer;
    packer.start(packerExecutable(), arguments());
    ASSERT_TRUE(waitUntil([&] {
        return QDirIterator(tmp.filePath("out"), {"archive.zip"}, QDir::Files | QDir::Hidden,
                            QDirIterator::Subdirectories)
            .hasNext();
    }));
    ::kill(packer.processId(), GetParam());
    ASSERT_TRUE(packer.waitForFinished(600000));
    EXPECT_EQ(packer.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(packer.exitCode(), GetParam());
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("out")));
}

INSTANTIATE_TEST_SUITE_P(Signals, PackerSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto &info) {
                             return info.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

} // namespace
