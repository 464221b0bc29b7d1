// The hostile archives and the fault sweep as one table, forged at test time by
// make_hostile.py. Each row extracts its archive with extract_probe in a child, after
// its plants and any earlier run, under its faults, and must end by itself, print what
// the row expects, change nothing beside the destination, and keep an earlier copy.
// Rows marked e2e also run through a copy of the built Unspool bundle.
#include "ChildRun.h"
#include "QtPrinters.h"
#include "Sandbox.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

QTemporaryDir *sCases; // the archives and manifest.json
QTemporaryDir *sWorld; // outside/, which an escape would change, and runs/<row>/lesson
QList<QJsonObject> sRows;

QString world(const QString &relative)
{
    return sWorld->filePath(relative);
}

QList<QJsonObject> rows(bool fault, bool e2e)
{
    QList<QJsonObject> picked;
    for (const QJsonObject &row : sRows) {
        if (row["fault"].toBool() == fault && (!e2e || row["e2e"].toBool()))
            picked.append(row);
    }
    return picked;
}

bool plant(const QString &destination, const QJsonArray &plants)
{
    for (const QJsonValue &p : plants) {
        const QByteArray at = QFile::encodeName(destination + u'/' + p[0].toString());
        const QByteArray target = QFile::encodeName(world(p[2].toString()));
        const QString kind = p[1].toString();
        if (!QDir().mkpath(destination) ||
            (kind == "symlink"    ? ::symlink(target.constData(), at.constData())
             : kind == "hardlink" ? ::link(target.constData(), at.constData())
                                  : ::mkfifo(at.constData(), 0644)) != 0)
            return false;
    }
    return true;
}

// Runs `spec` under the row's faults: the shim preloaded (first, or a sanitizer
// runtime refuses to start) with its settings, or a file-size limit.
childrun::Outcome runWith(const QJsonObject &row, childrun::Spec spec)
{
    const QJsonObject settings = row["env"].toObject();
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    if (!settings.isEmpty())
        spec.environment += {{"LD_PRELOAD", FAULT_SHIM},
                             {"ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") +
                                                  "verify_asan_link_order=0"}};
    for (auto it = settings.begin(); it != settings.end(); ++it)
        spec.environment.append({it.key().toUtf8(), it.value().toString().toUtf8()});
    spec.fileSizeLimit = row["limit"].toInteger(-1);
    return childrun::run(spec);
}

childrun::Outcome probe(const QJsonObject &row, const QString &file, const QString &destination)
{
    return runWith(row, {EXTRACT_PROBE,
                         {sCases->filePath(file), destination, row["password"].toString()},
                         {}});
}

class Extraction : public ::testing::TestWithParam<QJsonObject>
{
};

TEST_P(Extraction, EndsAsItsRowSays)
{
    const QJsonObject &row = GetParam();
    const QString run = "runs/" + row["name"].toString(), destination = world(run + "/lesson");
    ASSERT_TRUE(QDir().mkpath(world(run)) && plant(destination, row["plants"].toArray()));
    if (row.contains("first")) {
        ASSERT_EQ(probe({}, row["first"].toString() + ".zip", destination).output.toStdString(),
                  "open YES\ncomplete\nresult YES\n");
    }
    const QStringList outside = testfiles::snapshot(world({}), {run + "/lesson"});
    const QStringList earlier = row.contains("first") ? testfiles::tree(destination) : QStringList();

    const childrun::Outcome done = probe(row, row["file"].toString(), destination);

    ASSERT_TRUE(done.exited && done.exitCode == 0)
        << "signal " << done.signal << ", timed out " << done.timedOut;
    EXPECT_EQ(done.output.toStdString(), row["expect"].toString().toStdString());
    EXPECT_EQ(testfiles::changes(outside, testfiles::snapshot(world({}), {run + "/lesson"})),
              QStringList());
    if (row["early"].toBool()) {
        EXPECT_FALSE(QFileInfo::exists(destination)) << "refused after making the destination";
    }
    if (row.contains("first")) {
        EXPECT_EQ(testfiles::tree(destination), earlier) << "the earlier copy was not kept";
    }
    const QJsonObject files = row["files"].toObject();
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QByteArray data = testfiles::read(destination + u'/' + it.key());
        EXPECT_EQ(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString(),
                  it.value().toString().toStdString())
            << it.key().toStdString();
    }
    QDir(world(run)).removeRecursively();
}

// The launcher in each archive leaves a marker when started: a sound lesson ends
// Unspool and starts it; a refused one leaves Unspool at its alert, which nobody
// presses, and never starts it.
using HostileUnspool = Extraction;

TEST_P(HostileUnspool, StartsTheLauncherOnlyForASoundLesson)
{
    const QJsonObject &row = GetParam();
    Sandbox box;
    const QString bundle = box.copyBundle(UNSPOOL_BUNDLE, "Lesson.app");
    const QString marker = box.path("launcher-started");
    ASSERT_TRUE(box.isValid() && !bundle.isEmpty());
    ASSERT_TRUE(QFile::copy(sCases->filePath(row["file"].toString()),
                            bundle + "/Contents/Resources/archive.zip"));
    ASSERT_TRUE(plant(box.temporary() + "/Brindle_Lessons/Lesson", row["plants"].toArray()));
    const bool sound = row["expect"].toString().endsWith("YES\n");
    childrun::Spec spec{bundleProgram(bundle, "Unspool"), {}, {}, -1, sound ? 60000 : 5000};
    const QProcessEnvironment environment =
        box.environment(false, {{"HOSTILE_MARKER", marker}});
    for (const QString &name : environment.keys())
        spec.environment.append({name.toUtf8(), QFile::encodeName(environment.value(name))});
    const QStringList outside = testfiles::snapshot(world({}));

    const childrun::Outcome done = runWith(row, spec);

    EXPECT_EQ(done.signal, 0) << "Unspool crashed";
    EXPECT_EQ(done.timedOut, !sound) << "ended by itself, or waited at its alert";
    EXPECT_EQ(fileAppears(marker, sound ? 20000 : 1000), sound) << "the launcher";
    EXPECT_EQ(testfiles::changes(outside, testfiles::snapshot(world({}))), QStringList());
}

std::string rowName(const ::testing::TestParamInfo<QJsonObject> &info)
{
    return info.param["name"].toString().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Hostile, Extraction, ::testing::ValuesIn(rows(false, false)), rowName);
INSTANTIATE_TEST_SUITE_P(FaultSweep, Extraction, ::testing::ValuesIn(rows(true, false)), rowName);
INSTANTIATE_TEST_SUITE_P(Hostile, HostileUnspool,
                         ::testing::ValuesIn(rows(false, true) + rows(true, true)), rowName);

} // namespace

// The rows are forged before the tests are listed, since the manifest decides them.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    sCases = new QTemporaryDir;
    sWorld = new QTemporaryDir;
    if (!testfiles::write(world("outside/hard.txt"), "outside\n") ||
        childrun::run({"/usr/bin/python3", {MAKE_HOSTILE, sCases->path(), world("outside")}, {}})
                .exitCode != 0)
        return 1;
    const QJsonDocument manifest =
        QJsonDocument::fromJson(testfiles::read(sCases->filePath("manifest.json")));
    for (const QJsonValue &row : manifest.array())
        sRows.append(row.toObject());
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    delete sWorld;
    delete sCases;
    return failed;
}
