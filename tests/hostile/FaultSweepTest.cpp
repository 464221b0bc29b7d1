// Extraction under faults the disk can cause: a file-size limit, a destination that
// cannot be made, writes that fail part-way, a close that fails. Each run must end
// by itself with NO and without the completion that starts the setup launcher.
#include "FaultLesson.h"
#include "ProbeRun.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "WorldState.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

struct Fault {
    const char *name;
    long long fileSizeLimit; // -1: none
    long long writeBudget;   // bytes before writes fail; -1: no failure
    long long eioAt;         // file offset whose one write fails; -1: none
    long long readEioAt;     // archive offset whose reads fail; -1: none
    bool failClose;
    bool destinationUnderAFile;
};

std::ostream &operator<<(std::ostream &out, const Fault &f)
{
    return out << f.name;
}

const Fault kFaults[] = {
    {"file_size_limit_0", 0, -1, -1, -1, false, false},
    {"file_size_limit_1", 1, -1, -1, -1, false, false},
    {"file_size_limit_4095", 4095, -1, -1, -1, false, false},
    {"file_size_limit_4096", 4096, -1, -1, -1, false, false},
    {"file_size_limit_64KiB", 65536, -1, -1, -1, false, false},
    {"file_size_limit_1MiB", 1 << 20, -1, -1, -1, false, false},
    {"file_size_limit_2_5MiB", 5 << 19, -1, -1, -1, false, false},
    {"destination_under_a_file", -1, -1, -1, -1, false, true},
    {"write_fails_at_once", -1, 0, -1, -1, false, false},
    {"write_fails_after_1_byte", -1, 1, -1, -1, false, false},
    {"write_fails_after_4096_bytes", -1, 4096, -1, -1, false, false},
    {"write_fails_after_100000_bytes", -1, 100000, -1, -1, false, false},
    {"write_fails_after_1_5MiB", -1, 3 << 19, -1, -1, false, false},
    {"write_fails_after_3MiB", -1, 3 << 20, -1, -1, false, false},
    {"close_fails", -1, -1, -1, -1, true, false},
    {"one_write_fails_at_1MiB", -1, -1, 1 << 20, -1, false, false},
    {"one_write_fails_at_2MiB", -1, -1, 2 << 20, -1, false, false},
    {"one_write_fails_at_3MiB", -1, -1, 3 << 20, -1, false, false},
    {"archive_read_fails_at_1MiB", -1, -1, -1, 1 << 20, false, false},
    {"archive_read_fails_at_2MiB", -1, -1, -1, 2 << 20, false, false},
};

// The shim goes first; a sanitizer build's runtime would otherwise refuse to start
// behind it.
QList<std::pair<QByteArray, QByteArray>> preloadWith(QList<std::pair<QByteArray, QByteArray>> more)
{
    QByteArray asan = qgetenv("ASAN_OPTIONS");
    asan += asan.isEmpty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
    more.prepend({"ASAN_OPTIONS", asan});
    more.prepend({"LD_PRELOAD", FAULT_SHIM});
    return more;
}

class FaultSweep : public ::testing::TestWithParam<Fault>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        archive = folder.path() + "/lesson.zip";
        ASSERT_TRUE(writeFaultLesson(archive));
        ASSERT_TRUE(testfiles::write(folder.path() + "/outside/keep.txt", "keep\n"));
    }

    ProbeSpec spec(const Fault &fault, const QString &destination) const
    {
        ProbeSpec s{archive, destination, {}, fault.fileSizeLimit};
        if (fault.writeBudget >= 0)
            s.environment =
                preloadWith({{"FAULT_WRITE_AFTER", QByteArray::number(fault.writeBudget)}});
        if (fault.eioAt >= 0)
            s.environment = preloadWith({{"FAULT_EIO_AT", QByteArray::number(fault.eioAt)}});
        if (fault.readEioAt >= 0)
            s.environment =
                preloadWith({{"FAULT_READ_EIO_AT", QByteArray::number(fault.readEioAt)}});
        if (fault.failClose)
            s.environment = preloadWith({{"FAULT_CLOSE", "1"}});
        return s;
    }

    QTemporaryDir folder;
    QString archive;
};

TEST_P(FaultSweep, ReportsNoAndNeverCompletes)
{
    const Fault &fault = GetParam();

    // Positive control: the same archive, with no fault, extracts and completes.
    const ProbeResult clean = runProbe({archive, folder.path() + "/clean", {}, -1});
    ASSERT_TRUE(clean.ranCleanly());
    ASSERT_TRUE(clean.result);
    ASSERT_TRUE(clean.complete);

    QString destination = folder.path() + "/faulty/lesson";
    if (fault.destinationUnderAFile) {
        ASSERT_TRUE(testfiles::write(folder.path() + "/faulty", "a file, not a folder\n"));
    }
    // The destination and its parent are the extraction's to make.
    const QStringList before = worldState(folder.path(), {"faulty"});

    const ProbeResult run = runProbe(spec(fault, destination));

    ASSERT_TRUE(run.ranCleanly()) << "signal " << run.child.signal << "\n"
                                  << run.child.output.toStdString();
    ASSERT_TRUE(run.opened);
    EXPECT_TRUE(run.finished);
    EXPECT_FALSE(run.result);
    EXPECT_FALSE(run.complete);
    EXPECT_FALSE(run.messages.isEmpty());
    EXPECT_EQ(changes(before, worldState(folder.path(), {"faulty"})), QStringList());
}

std::string faultName(const ::testing::TestParamInfo<Fault> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSweep, ::testing::ValuesIn(kFaults), faultName);

// The shim must really bite, or the rows above prove nothing: with a generous
// budget the extraction goes through, with none it fails.
TEST(FaultShim, FailsWritesOnlyPastItsBudget)
{
    QTemporaryDir folder;
    const QString archive = folder.path() + "/lesson.zip";
    ASSERT_TRUE(writeFaultLesson(archive));
    const ProbeResult generous = runProbe(
        {archive, folder.path() + "/a", preloadWith({{"FAULT_WRITE_AFTER", "100000000"}}), -1});
    EXPECT_TRUE(generous.result);
    const ProbeResult none =
        runProbe({archive, folder.path() + "/b", preloadWith({{"FAULT_WRITE_AFTER", "0"}}), -1});
    EXPECT_FALSE(none.result);
    const ProbeResult eioPastEveryFile =
        runProbe({archive, folder.path() + "/c", preloadWith({{"FAULT_EIO_AT", "100000000"}}), -1});
    EXPECT_TRUE(eioPastEveryFile.result);
    const ProbeResult readEioPastTheArchive = runProbe(
        {archive, folder.path() + "/d", preloadWith({{"FAULT_READ_EIO_AT", "100000000"}}), -1});
    EXPECT_TRUE(readEioPastTheArchive.result);
}

// With no thread to be had, a file larger than the write buffer is written by the
// extracting thread alone, and still comes out whole (its CRC is checked).
TEST(FaultShim, WithoutThreadsLargeFilesStillExtract)
{
    QTemporaryDir folder;
    const QString archive = folder.path() + "/lesson.zip";
    ASSERT_TRUE(writeFaultLesson(archive));
    const ProbeResult run = runProbe(
        {archive, folder.path() + "/lesson", preloadWith({{"FAULT_NO_THREADS", "1"}}), -1});
    ASSERT_TRUE(run.ranCleanly()) << run.child.output.toStdString();
    EXPECT_TRUE(run.result) << run.messages.join('|').toStdString();
    EXPECT_TRUE(run.complete);
    EXPECT_EQ(QFileInfo(folder.path() + "/lesson/pagewright_files/media.bin").size(),
              3 * 1024 * 1024 + 12345);
}

} // namespace
