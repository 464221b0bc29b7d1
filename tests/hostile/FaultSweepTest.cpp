// Extraction under faults the disk can cause: a file-size limit, a destination that
// cannot be made, writes that fail part-way, a close that fails. Each run must end
// by itself with NO and without the completion that starts the setup launcher.
#include "FaultLesson.h"
#include "ProbeRun.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

struct Fault {
    const char *name;
    long long fileSizeLimit; // -1: none
    const char *shimSetting; // the fault shim's variable, or null for no shim
    const char *shimValue;
    bool destinationUnderAFile;
};

std::ostream &operator<<(std::ostream &out, const Fault &f)
{
    return out << f.name;
}

const Fault kFaults[] = {
    {"file_size_limit_0", 0, nullptr, nullptr, false},
    {"file_size_limit_1", 1, nullptr, nullptr, false},
    {"file_size_limit_4095", 4095, nullptr, nullptr, false},
    {"file_size_limit_4096", 4096, nullptr, nullptr, false},
    {"file_size_limit_64KiB", 65536, nullptr, nullptr, false},
    {"file_size_limit_1MiB", 1 << 20, nullptr, nullptr, false},
    {"file_size_limit_2_5MiB", 5 << 19, nullptr, nullptr, false},
    {"destination_under_a_file", -1, nullptr, nullptr, true},
    {"write_fails_at_once", -1, "FAULT_WRITE_AFTER", "0", false},
    {"write_fails_after_1_byte", -1, "FAULT_WRITE_AFTER", "1", false},
    {"write_fails_after_4096_bytes", -1, "FAULT_WRITE_AFTER", "4096", false},
    {"write_fails_after_100000_bytes", -1, "FAULT_WRITE_AFTER", "100000", false},
    {"write_fails_after_1_5MiB", -1, "FAULT_WRITE_AFTER", "1572864", false},
    {"write_fails_after_3MiB", -1, "FAULT_WRITE_AFTER", "3145728", false},
    {"close_fails", -1, "FAULT_CLOSE", "1", false},
    {"one_write_fails_at_1MiB", -1, "FAULT_EIO_AT", "1048576", false},
    {"one_write_fails_at_2MiB", -1, "FAULT_EIO_AT", "2097152", false},
    {"one_write_fails_at_3MiB", -1, "FAULT_EIO_AT", "3145728", false},
    {"archive_read_fails_at_1MiB", -1, "FAULT_READ_EIO_AT", "1048576", false},
    {"archive_read_fails_at_2MiB", -1, "FAULT_READ_EIO_AT", "2097152", false},
};

// The environment that preloads the shim with one setting. The shim goes first; a
// sanitizer build's runtime would otherwise refuse to start behind it.
QList<std::pair<QByteArray, QByteArray>> shimWith(const char *setting, const char *value)
{
    QByteArray asan = qgetenv("ASAN_OPTIONS");
    asan += asan.isEmpty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
    return {{"LD_PRELOAD", FAULT_SHIM}, {"ASAN_OPTIONS", asan}, {setting, value}};
}

// The same on a file system without unnamed files.
QList<std::pair<QByteArray, QByteArray>> shimWithoutUnnamedFiles(const char *setting,
                                                                 const char *value)
{
    QList<std::pair<QByteArray, QByteArray>> environment = shimWith(setting, value);
    environment.append(std::pair<QByteArray, QByteArray>("FAULT_NO_TMPFILE", "1"));
    return environment;
}

// The fault lesson, made once for all the runs, and a folder for their output.
class FaultLessonTest : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        lessonFolder = new QTemporaryDir;
        archive = lessonFolder->path() + "/lesson.zip";
        if (!writeFaultLesson(archive))
            archive.clear();
    }
    static void TearDownTestSuite()
    {
        delete lessonFolder;
        lessonFolder = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(archive.isEmpty()) << "the fault lesson could not be made";
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(testfiles::write(folder.path() + "/outside/keep.txt", "keep\n"));
    }
    ProbeResult runWithShim(const QString &destination, const char *setting, const char *value)
    {
        return runProbe(
            {archive, folder.path() + "/" + destination, shimWith(setting, value), -1, {}});
    }

    static inline QTemporaryDir *lessonFolder = nullptr;
    static inline QString archive;
    QTemporaryDir folder;
};

class FaultSweep : public FaultLessonTest, public ::testing::WithParamInterface<Fault>
{
  protected:
    ProbeSpec spec(const Fault &fault, const QString &destination) const
    {
        ProbeSpec s{archive, destination, {}, fault.fileSizeLimit, {}};
        if (fault.shimSetting)
            s.environment = shimWith(fault.shimSetting, fault.shimValue);
        return s;
    }
};

TEST_P(FaultSweep, ReportsNoAndNeverCompletes)
{
    const Fault &fault = GetParam();

    // Positive control: the same archive, with no fault, extracts and completes.
    const ProbeResult clean = runProbe({archive, folder.path() + "/clean", {}, -1, {}});
    ASSERT_TRUE(clean.ranCleanly());
    ASSERT_TRUE(clean.result);
    ASSERT_TRUE(clean.complete);

    QString destination = folder.path() + "/faulty/lesson";
    if (fault.destinationUnderAFile) {
        ASSERT_TRUE(testfiles::write(folder.path() + "/faulty", "a file, not a folder\n"));
    }
    // The destination and its parent are the extraction's to make.
    const QStringList before = testfiles::snapshot(folder.path(), {"faulty"});

    const ProbeResult run = runProbe(spec(fault, destination));

    ASSERT_TRUE(run.ranCleanly()) << "signal " << run.child.signal << "\n"
                                  << run.child.output.toStdString();
    ASSERT_TRUE(run.opened);
    EXPECT_TRUE(run.finished);
    EXPECT_FALSE(run.result);
    EXPECT_FALSE(run.complete);
    EXPECT_FALSE(run.messages.isEmpty());
    EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(folder.path(), {"faulty"})), QStringList());
}

std::string faultName(const ::testing::TestParamInfo<Fault> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSweep, ::testing::ValuesIn(kFaults), faultName);

// The shim must really bite, or the rows above prove nothing: each fault set out
// of reach lets the extraction through, and a write budget of none stops it.
TEST_F(FaultLessonTest, TheShimFailsOnlyWhatItIsToldTo)
{
    EXPECT_TRUE(runWithShim("a", "FAULT_WRITE_AFTER", "100000000").result);
    EXPECT_FALSE(runWithShim("b", "FAULT_WRITE_AFTER", "0").result);
    EXPECT_TRUE(runWithShim("c", "FAULT_EIO_AT", "100000000").result);
    EXPECT_TRUE(runWithShim("d", "FAULT_READ_EIO_AT", "100000000").result);
}

// A fault met while a file is written over an earlier run's copy: with unnamed new
// files and without them (each then has a hidden name until it is complete), the
// earlier copy stays as it was and no unfinished file is left.
TEST_F(FaultLessonTest, AFailedFileLeavesTheEarlierCopyAndNothingElse)
{
    const QString destination = folder.path() + "/lesson";
    using Shim = QList<std::pair<QByteArray, QByteArray>> (*)(const char *, const char *);
    for (const Shim shim : {shimWith, shimWithoutUnnamedFiles}) {
        // Positive control: the lesson extracts whole that way.
        ASSERT_TRUE(
            runProbe({archive, destination, shim("FAULT_WRITE_AFTER", "100000000"), -1, {}}).result);
        const QStringList before = testfiles::tree(destination);
        for (const char *budget : {"0", "100000", "1572864"}) {
            const ProbeResult run =
                runProbe({archive, destination, shim("FAULT_WRITE_AFTER", budget), -1, {}});
            ASSERT_TRUE(run.ranCleanly()) << run.child.output.toStdString();
            EXPECT_FALSE(run.result) << budget;
            EXPECT_EQ(testfiles::tree(destination), before) << budget;
        }
    }
}

// With no thread to be had, a file larger than the write buffer is written by the
// extracting thread alone, and still comes out whole (its CRC is checked).
TEST_F(FaultLessonTest, WithoutThreadsLargeFilesStillExtract)
{
    const ProbeResult run = runWithShim("lesson", "FAULT_NO_THREADS", "1");
    ASSERT_TRUE(run.ranCleanly()) << run.child.output.toStdString();
    EXPECT_TRUE(run.result) << run.messages.join('|').toStdString();
    EXPECT_TRUE(run.complete);
    EXPECT_EQ(QFileInfo(folder.path() + "/lesson/pagewright_files/media.bin").size(),
              3 * 1024 * 1024 + 12345);
}

} // namespace
