// The hostile archives and the fault sweep as one table forged by make_hostile.py: each row
// extracts its archive with extract_probe in a child, after its plant and earlier run, under its
// faults, and must end by itself, print what the row expects, change nothing beside the
// destination and keep an earlier copy.
#include "tests/support/ChildRun.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

// A row prints as its name, its archive, earlier run, plant and password, and its faults.
void PrintTo(const QJsonObject &row, std::ostream *out)
{
    rows::Print print(out, row["name"].toString().toUtf8().constData());
    for (const char *key : {"file", "first", "plant", "password"})
        if (row.contains(key))
            print(key, row[key].toString());
    if (row.contains("limit"))
        print("limit", row["limit"].toInteger());
    const QJsonObject faults = row["env"].toObject();
    for (auto it = faults.begin(); it != faults.end(); ++it)
        print(it.key().toUtf8().constData(), it.value().toString());
}

namespace
{

QTemporaryDir sCases;        // the archives and manifest.json
QTemporaryDir sWorld;        // outside/, which an escape would change, and runs/<row>/lesson
QList<QJsonObject> sRows[2]; // the hostile rows, the fault rows

QString world(const QString &relative)
{
    return sWorld.filePath(relative);
}

// The row's plant: a shell command run in the destination, with the world folder as $1.
bool plant(const QString &destination, const QJsonObject &row)
{
    const QString command = "mkdir -p \"$0\" && cd \"$0\" && " + row["plant"].toString();
    return !row.contains("plant") ||
           childrun::run({"/bin/sh", {"-c", command, destination, world({})}, {}}).exitCode == 0;
}

// Runs `spec` under the row's faults: the shim preloaded (first, or a sanitizer
// runtime refuses to start) with its settings, or a file-size limit.
childrun::Outcome runWith(const QJsonObject &row, childrun::Spec spec)
{
    const QJsonObject settings = row["env"].toObject();
    if (!settings.isEmpty())
        spec.environment +=
            {{"LD_PRELOAD", FAULT_SHIM},
             {"ASAN_OPTIONS", "verify_asan_link_order=0:" + qgetenv("ASAN_OPTIONS")}};
    for (auto it = settings.begin(); it != settings.end(); ++it)
        spec.environment.append({it.key().toUtf8(), it.value().toString().toUtf8()});
    spec.fileSizeLimit = row["limit"].toInteger(-1);
    return childrun::run(spec);
}

childrun::Outcome probe(const QJsonObject &row, const QString &file, const QString &destination)
{
    return runWith(
        row, {EXTRACT_PROBE, {sCases.filePath(file), destination, row["password"].toString()}, {}});
}

// Rows marked e2e also run through a copy of the Unspool bundle. The archived launcher leaves a
// marker: a sound lesson ends Unspool and starts it, a refused one waits at its alert.
void runUnspool(const QJsonObject &row)
{
    Sandbox box;
    const QString bundle = box.copyBundle(UNSPOOL_BUNDLE, "Lesson.app");
    const QString marker = box.path("launcher-started");
    ASSERT_TRUE(!bundle.isEmpty() && QFile::copy(sCases.filePath(row["file"].toString()),
                                                 bundle + "/Contents/Resources/archive.zip"));
    ASSERT_TRUE(plant(box.temporary() + "/Brindle_Lessons/Lesson", row));
    const bool sound = row["expect"].toString().endsWith("YES\n");
    childrun::Spec spec{bundleProgram(bundle, "Unspool"), {}, {}, -1, sound ? 60000 : 5000};
    const QProcessEnvironment environment = box.environment(false, {{"HOSTILE_MARKER", marker}});
    for (const QString &name : environment.keys())
        spec.environment.append({name.toUtf8(), QFile::encodeName(environment.value(name))});
    const childrun::Outcome done = runWith(row, spec);
    EXPECT_EQ(done.signal, 0) << "Unspool crashed";
    EXPECT_EQ(done.timedOut, !sound) << "Unspool ended by itself, or waited at its alert";
    EXPECT_EQ(fileAppears(marker, sound ? 20000 : 1000), sound) << "the launcher";
}

const auto rowName = [](const auto &info) { return rows::testName(info.param["name"].toString()); };

class Extraction : public ::testing::TestWithParam<QJsonObject>
{
};

TEST_P(Extraction, EndsAsItsRowSays)
{
    const QJsonObject &row = GetParam();
    const QString run = "runs/" + row["name"].toString(), destination = world(run + "/lesson");
    const QString first = row["first"].toString();
    ASSERT_TRUE(QDir().mkpath(world(run)) && plant(destination, row));
    if (!first.isEmpty()) {
        ASSERT_EQ(probe({}, first + ".zip", destination).output.toStdString(),
                  "open YES\ncomplete\nresult YES\n");
    }
    const QStringList outside = testfiles::snapshot(world({}), {run + "/lesson"});
    const QStringList earlier = first.isEmpty() ? QStringList() : testfiles::tree(destination);

    const childrun::Outcome done = probe(row, row["file"].toString(), destination);

    ASSERT_TRUE(done.exited && done.exitCode == 0)
        << "signal " << done.signal << ", timed out " << done.timedOut;
    EXPECT_EQ(done.output.toStdString(), row["expect"].toString().toStdString());
    if (!first.isEmpty()) {
        EXPECT_EQ(testfiles::tree(destination), earlier) << "the earlier copy was not kept";
    }
    const QJsonObject files = row["files"].toObject();
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QByteArray data = testfiles::read(destination + u'/' + it.key());
        EXPECT_EQ(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex(),
                  it.value().toString().toLatin1())
            << it.key().toStdString();
    }
    if (row["e2e"].toBool())
        runUnspool(row);
    EXPECT_EQ(testfiles::changes(outside, testfiles::snapshot(world({}), {run + "/lesson"})),
              QStringList());
    QDir(world(run)).removeRecursively();
}

INSTANTIATE_TEST_SUITE_P(Hostile, Extraction, ::testing::ValuesIn(sRows[0]), rowName);
INSTANTIATE_TEST_SUITE_P(FaultSweep, Extraction, ::testing::ValuesIn(sRows[1]), rowName);

} // namespace

// The rows are forged before the tests are listed, since the manifest decides them.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!testfiles::write(world("outside/hard.txt"), "outside\n") ||
        childrun::run({"/usr/bin/python3", {MAKE_HOSTILE, sCases.path(), world("outside")}, {}})
                .exitCode != 0)
        return 1;
    const QJsonDocument manifest =
        QJsonDocument::fromJson(testfiles::read(sCases.filePath("manifest.json")));
    for (const QJsonValue row : manifest.array())
        sRows[row["fault"].toBool()].append(row.toObject());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
