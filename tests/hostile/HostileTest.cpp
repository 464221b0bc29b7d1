// Every hostile archive extracted by LessonArchive in a child process: the outcome
// the manifest names, and never a change outside the destination, a crash or a hang.
#include "HostileSuite.h"
#include "ProbeRun.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace
{

using hostile::Case;

QString sha256(const QString &path)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(testfiles::read(path), QCryptographicHash::Sha256).toHex());
}

class Hostile : public ::testing::TestWithParam<Case>
{
  protected:
    void SetUp() override
    {
        const Case &c = GetParam();
        runFolder = QStringLiteral("runs/") + c.name;
        destination = hostile::world() + u'/' + runFolder + QStringLiteral("/lesson");
        ASSERT_TRUE(QDir().mkpath(hostile::world() + u'/' + runFolder));
        if (!c.plants.isEmpty()) {
            ASSERT_TRUE(hostile::plant(destination, c.plants));
        }
    }

    QStringList outsideState() const
    {
        return testfiles::snapshot(hostile::world(), {runFolder + QStringLiteral("/lesson")});
    }

    QString runFolder;
    QString destination;
};

TEST_P(Hostile, GivesItsOutcomeAndStaysInsideTheDestination)
{
    const Case &c = GetParam();
    const QStringList outsideBefore = outsideState();
    const bool existedBefore = QFileInfo::exists(destination);
    const QStringList destinationBefore = testfiles::snapshot(destination);

    const ProbeResult probe = runProbe({c.archive, destination, {}, -1, c.password});

    ASSERT_TRUE(probe.ranCleanly())
        << "signal " << probe.child.signal << ", timed out " << probe.child.timedOut << "\n"
        << probe.child.output.toStdString();
    EXPECT_EQ(testfiles::changes(outsideBefore, outsideState()), QStringList());

    if (c.outcome == "unopenable") {
        EXPECT_FALSE(probe.opened);
        EXPECT_EQ(QFileInfo::exists(destination), existedBefore);
        return;
    }
    ASSERT_TRUE(probe.opened);
    ASSERT_TRUE(probe.finished);
    if (c.outcome == "extracted") {
        EXPECT_TRUE(probe.result);
        EXPECT_TRUE(probe.complete);
        EXPECT_TRUE(probe.messages.isEmpty()) << probe.messages.join('|').toStdString();
        for (auto it = c.files.begin(); it != c.files.end(); ++it)
            EXPECT_EQ(sha256(destination + u'/' + it.key()), it.value()) << it.key().toStdString();
        return;
    }
    EXPECT_FALSE(probe.result);
    EXPECT_FALSE(probe.complete);
    EXPECT_EQ(probe.messages, QStringList{c.message}) << probe.messages.join('|').toStdString();
    if (c.early) {
        // Refused before anything was written: not even the destination was made.
        EXPECT_EQ(QFileInfo::exists(destination), existedBefore);
        EXPECT_EQ(testfiles::snapshot(destination), destinationBefore);
        EXPECT_EQ(probe.done, 0);
    }
}

std::string caseName(const ::testing::TestParamInfo<Case> &info)
{
    return info.param.name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Archives, Hostile, ::testing::ValuesIn(hostile::cases()), caseName);

// The check above is only worth something if it sees an escape: write through a
// planted link by hand and watch it notice.
TEST(HostileWorldCheck, SeesAWriteThroughAPlantedLink)
{
    const QString runFolder = QStringLiteral("runs/world-check");
    const QString destination = hostile::world() + u'/' + runFolder + QStringLiteral("/lesson");
    ASSERT_TRUE(hostile::plant(destination, {{"sub", "symlink", "outside/dir"}}));
    const QStringList before = testfiles::snapshot(hostile::world(), {runFolder + "/lesson"});
    EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(hostile::world(), {runFolder + "/lesson"})),
              QStringList());

    ASSERT_TRUE(testfiles::write(destination + "/sub/escaped.txt", "out\n"));
    const QStringList seen = testfiles::changes(before, testfiles::snapshot(hostile::world(), {runFolder + "/lesson"}));
    ASSERT_EQ(seen.size(), 1) << seen.join('\n').toStdString();
    EXPECT_TRUE(seen.first().startsWith("+outside/dir/escaped.txt file "));
    QFile::remove(hostile::world() + "/outside/dir/escaped.txt");
}

TEST(HostileSuite, HasAtLeastFortyCases)
{
    EXPECT_GE(hostile::cases().size(), 40);
}

} // namespace
