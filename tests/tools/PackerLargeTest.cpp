// The packer on lessons past the old ZIP limits (a multi-gigabyte file, 70,000
// files), read back by Info-ZIP, Python's zipfile and our own extraction; its
// memory on a big file; and a run interrupted by a signal, which leaves nothing.
// Big files are sparse, so they cost time but no disk; extracting one does.
#include "LessonArchive.h"
#include "PackerHarness.h"
#include "ProcessRunner.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace packertest;

namespace
{

constexpr qint64 kMiB = 1024 * 1024;

// What Python's zipfile finds: its own check of every entry, the entry count, the
// names of entries with a ZIP64 block, and whether the end records are 64-bit.
const char kZipfileCheck[] = R"(
import struct, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print("bad", z.testzip())
print("entries", len(z.infolist()))
for i in z.infolist():
    extra, at = i.extra, 0
    while at + 4 <= len(extra):
        kind, size = struct.unpack_from("<HH", extra, at)
        if kind == 1:
            print("zip64", i.filename)
        at += 4 + size
tail = open(sys.argv[1], "rb").read()[-42:]
print("end64", tail[:4] == b"PK\x06\x07")
)";

struct ChildEnd {
    bool signalled = false;
    int status = -1; // exit code or signal
    long peakKiB = 0;
};

class LargeLesson : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeFakeBundle(tmp.filePath("Unspool.app"), "Unspool"));
        ASSERT_TRUE(writeFakeBundle(tmp.filePath("Wayfarer.app"), "Wayfarer"));
        ASSERT_TRUE(testfiles::write(content() + "/index.html", "<h1>Start</h1>"));
    }
    QString content() const { return tmp.filePath("content"); }
    QString output() const { return tmp.filePath("out"); }
    QString archive() const { return output() + "/Lesson.app/Contents/Resources/archive.zip"; }

    bool sparseFile(const QString &name, qint64 size) const
    {
        QFile file(content() + "/" + name);
        return file.open(QIODevice::WriteOnly) && file.resize(size);
    }

    bool haveFreeSpace(qint64 bytes) const
    {
        struct statvfs fs {
        };
        return ::statvfs(QFile::encodeName(tmp.path()).constData(), &fs) == 0 &&
               static_cast<qint64>(fs.f_bavail * fs.f_frsize) > bytes;
    }

    // The real packer as a child of its own, so that its resource use is its own.
    pid_t startPacker()
    {
        const QStringList arguments = {packerExecutable(),
                                       "--unspool",
                                       tmp.filePath("Unspool.app"),
                                       "--wayfarer",
                                       tmp.filePath("Wayfarer.app"),
                                       content(),
                                       "Lesson",
                                       output()};
        QList<QByteArray> bytes;
        for (const QString &argument : arguments)
            bytes.append(QFile::encodeName(argument));
        std::vector<char *> argv;
        for (QByteArray &argument : bytes)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                         QFile::encodeName(tmp.filePath("packer.err")).constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    static ChildEnd waitFor(pid_t pid)
    {
        ChildEnd end;
        int status = 0;
        struct rusage usage {
        };
        if (::wait4(pid, &status, 0, &usage) != pid)
            return end;
        end.signalled = WIFSIGNALED(status);
        end.status = end.signalled ? WTERMSIG(status) : WEXITSTATUS(status);
        end.peakKiB = usage.ru_maxrss;
        return end;
    }

    ChildEnd pack()
    {
        const ChildEnd end = waitFor(startPacker());
        if (end.signalled || end.status != 0)
            ADD_FAILURE() << testfiles::read(tmp.filePath("packer.err")).toStdString();
        return end;
    }

    QStringList zipfileSays() const
    {
        const QString check = QString::fromUtf8(
            platform::runProcess("python3", {"-c", kZipfileCheck, archive()}).output);
        return check.split('\n', Qt::SkipEmptyParts);
    }

    bool extract(const QString &into) const
    {
        LessonArchive zip;
        return zip.UnzipOpenFile(archive()) && zip.UnzipFileTo(into, true);
    }

    QTemporaryDir tmp;
};

TEST_F(LargeLesson, AFileOverFourGigabytesGetsZip64SizesAndComesBackWhole)
{
    constexpr qint64 kSize = 4500 * kMiB;
    if (!haveFreeSpace(kSize + 256 * kMiB))
        GTEST_SKIP() << "extracting the lesson needs 4.7 GB of free space, which this "
                        "machine lacks";
    ASSERT_TRUE(sparseFile("video.bin", kSize));
    ASSERT_TRUE(pack().status == 0);
    EXPECT_TRUE(unzipTestPasses(archive()));
    // ZIP64 for the one entry that needs it, and no 64-bit end records.
    EXPECT_EQ(zipfileSays(), (QStringList{"bad None", "entries 4",
                                          "zip64 pagewright_files/video.bin", "end64 False"}));

    const QString lesson = tmp.filePath("lesson");
    ASSERT_TRUE(extract(lesson)); // which checks the CRC and size of every entry
    EXPECT_EQ(QFileInfo(lesson + "/pagewright_files/video.bin").size(), kSize);
    EXPECT_EQ(testfiles::read(lesson + "/pagewright_files/index.html"), "<h1>Start</h1>");
}

TEST_F(LargeLesson, SeventyThousandFilesGetZip64EndRecordsAndAllComeBack)
{
    constexpr int kFiles = 70000;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(testfiles::write(content() + QStringLiteral("/many/%1.txt").arg(i),
                                     QByteArray::number(i)));
    ASSERT_TRUE(pack().status == 0);
    EXPECT_TRUE(unzipTestPasses(archive()));
    // The count needs the 64-bit end records; no entry needs a ZIP64 block.
    EXPECT_EQ(zipfileSays(), (QStringList{"bad None", "entries 70003", "end64 True"}));

    LessonArchive zip;
    ASSERT_TRUE(zip.UnzipOpenFile(archive()));
    EXPECT_EQ(zip.getNumberOfEntries(), kFiles + 3);
    const QString lesson = tmp.filePath("lesson");
    ASSERT_TRUE(zip.UnzipFileTo(lesson, true));
    int found = 0;
    for (QDirIterator it(lesson + "/pagewright_files/many", QDir::Files); it.hasNext(); ++found) {
        const QFileInfo file(it.next());
        ASSERT_EQ(testfiles::read(file.filePath()), file.baseName().toUtf8());
    }
    EXPECT_EQ(found, kFiles);
}

TEST_F(LargeLesson, MemoryDoesNotGrowWithFileSize)
{
    ASSERT_TRUE(sparseFile("video.bin", 1024 * kMiB));
    const ChildEnd end = pack();
    ASSERT_EQ(end.status, 0);
    EXPECT_LT(end.peakKiB, 64 * 1024) << "peak resident memory in KiB";
}

class InterruptedPacker : public LargeLesson, public ::testing::WithParamInterface<int>
{
};

TEST_P(InterruptedPacker, LeavesNoStagingFolderAndNoLesson)
{
    ASSERT_TRUE(sparseFile("video.bin", 4096 * kMiB)); // minutes of packing
    const pid_t packer = startPacker();
    ASSERT_GT(packer, 0);
    // Interrupted once it writes the archive in its staging folder.
    const bool writing = waitUntil([this] {
        QDirIterator it(output(), {"archive.zip"}, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        return it.hasNext();
    });
    ::kill(packer, GetParam());
    const ChildEnd end = waitFor(packer);
    ASSERT_TRUE(writing);
    EXPECT_TRUE(end.signalled && end.status == GetParam())
        << "status " << end.status << (end.signalled ? " (signal)" : "");
    // The output folder was the packer's own, so it went too.
    EXPECT_FALSE(QFileInfo::exists(output()))
        << testfiles::tree(output()).join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedPacker, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto &info) {
                             return info.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

} // namespace
