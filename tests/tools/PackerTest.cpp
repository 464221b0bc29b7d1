// The real packer over real folders, its output read back by Info-ZIP, and each
// lesson it writes opened by the built Unspool offscreen.
#include "BundledQt.h"
#include "ChildRun.h"
#include "LinuxMainBundle.h"
#include "NamePolicy.h"
#include "PackerHarness.h"
#include "QtPrinters.h"
#include "Sandbox.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace packertest;

namespace
{

// One packer run's paths and arguments in a sandbox; rows change them or the disk.
struct Packing {
    Sandbox box;
    QString unspool = UNSPOOL_BUNDLE, wayfarer = box.path("Wayfarer.app");
    QString content = box.path("content"), name = "Lesson", output = box.path("out");
    QStringList extra;
    Packing()
    {
        writeFakeBundle(wayfarer, "Wayfarer");
        testfiles::write(content + "/index.html", "<h1>Start</h1>");
        testfiles::write(content + "/images/river.svg", "<svg/>");
        QDir().mkpath(output);
    }
    QStringList arguments() const
    {
        return QStringList{"--unspool", unspool, "--wayfarer", wayfarer} + extra +
               QStringList{content, name, output};
    }
    QString bundle(const QString &path = {}) const { return output + "/" + name + ".app" + path; }
    QString archive() const { return bundle("/Contents/Resources/archive.zip"); }
};

// A file at `relative` below `folder`, its folders made on the way, all as bytes.
bool plant(QByteArray path, const QByteArray &relative)
{
    const QList<QByteArray> parts = relative.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        ::mkdir((path += '/' + parts[i]).constData(), 0755);
    const int fd = ::open((path + '/' + parts.last()).constData(), O_WRONLY | O_CREAT, 0644);
    return fd >= 0 && ::write(fd, "data", 4) == 4 && ::close(fd) == 0;
}

bool link(const QString &target, const QString &path)
{
    return QFile::link(target, path);
}

// NameOnly: a name no file on disk can carry, so only the policy itself is asked.
enum Verdict { Packed, Skipped, Refused, NameOnly };

struct Row {
    const char *id;
    QByteArray file; // planted below the content folder
    Verdict verdict, keepAll;
    const char *message = ""; // in the packer's line(s) on standard error
    bool (*fault)(Packing &) = nullptr;
};

std::ostream &operator<<(std::ostream &os, const Row &r)
{
    return os << r.id;
}

// clang-format off
const Row kNames[] = {
    {"blanks_percent", "100% of a river.html", Packed, Packed},
    {"unicode", "R\xc3\xado y Lagos/\xe2\x82\xac \xf0\x9f\x8c\x8a.html", Packed, Packed},
    {"not_utf8", "caf\xe9.html", Refused, Refused, "/caf\\xe9.html: its name is not valid UTF-8"},
    {"line_break", "a\nb.html", Refused, Refused, "/a\\x0ab.html: its name holds a control"},
    {"escape", "e\x1b[31m.html", Refused, Refused, "/e\\x1b[31m.html: its name holds a control"},
    {"delete", "a\x7f.html", Refused, Refused, "/a\\x7f.html: its name holds a control"},
    {"backslash", "a\\b.html", Refused, Refused, "/a\\b.html: its name holds a backslash"},
    {"dot_dot_part", "a/../b.html", NameOnly, Refused},
    {"dot_part", "a/./b.html", NameOnly, Refused},
    {"doubled_slash", "a//b.html", NameOnly, Refused},
    {"leading_slash", "/a.html", NameOnly, Refused},
    {"ds_store", ".DS_Store", Skipped, Packed, "/.DS_Store (desktop litter"},
    {"icon_return", "Icon\r", Skipped, Refused, "/Icon\\x0d (desktop litter"},
    {"macosx_folder", "__MACOSX/a.html", Skipped, Packed, "/__MACOSX (desktop litter"},
    {"apple_double", "._a.html", Skipped, Packed, "/._a.html (desktop litter"},
    {"git_folder", ".git/config", Skipped, Packed, "/.git (desktop litter"},
    {"svn_folder", "images/.svn/entries", Skipped, Packed, "images/.svn (desktop litter"},
    {"backup", "a.html~", Skipped, Packed, "/a.html~ (desktop litter"},
};

#define SET(what) [](Packing &s) { return what, true; }
#define DO(what) [](Packing &s) { return what; }
const Row kRefusals[] = {
    {"lesson_odd", "", Packed, Packed, "", SET(s.name = "R\xc3\xado 100% %@")},
    {"lesson_longest", "", Packed, Packed, "", SET(s.name = QString(251, 'x'))},
    {"lesson_too_long", "", Refused, Refused, "too long (256 bytes", SET(s.name = QString(252, 'x'))},
    {"lesson_empty", "", Refused, Refused, "the lesson name is empty", SET(s.name = "")},
    {"lesson_dot_dot", "", Refused, Refused, "is not a folder name", SET(s.name = "..")},
    {"lesson_slash", "", Refused, Refused, "contains \"/\"", SET(s.name = "a/b")},
    {"lesson_backslash", "", Refused, Refused, "contains \"\\\"", SET(s.name = "..\\a")},
    {"lesson_line_break", "", Refused, Refused, "control character", SET(s.name = "a\nb")},
    {"no_start_page", "", Refused, Refused, "has no start page", DO(QFile::remove(s.content + "/index.html"))},
    {"named_pipe", "", Refused, Refused, "images/pipe is not a regular file",
     DO(::mkfifo(QFile::encodeName(s.content + "/images/pipe").constData(), 0644) == 0)},
    {"link", "", Refused, Refused, "a.txt is a symbolic link", DO(link("/etc/hostname", s.content + "/a.txt"))},
    {"linked_folder", "", Refused, Refused, "/b is a symbolic link", DO(link(s.content + "/images", s.content + "/b"))},
    {"link_in_wayfarer", "", Refused, Refused, "/c is a symbolic link", DO(link("Info.plist", s.wayfarer + "/c"))},
    {"content_missing", "", Refused, Refused, "none is not a folder", SET(s.content = s.box.path("none"))},
    {"output_exists", "", Refused, Refused, "(use --replace", DO(link("none", s.bundle()))},
    {"output_in_content", "", Refused, Refused, "lies inside the content", SET(s.output = s.content + "/o")},
    {"no_installer", "", Refused, Refused, "none.pkg does not exist", SET(s.extra = QStringList({"--installer", "none.pkg"}))},
    {"not_a_bundle", "", Refused, Refused, "not a built Unspool bundle", SET(s.unspool = s.content)},
};
#undef SET
#undef DO
// clang-format on

Verdict verdictOf(const PackerRun &run)
{
    return run.exitCode != 0 ? Refused : run.err.contains("skipping") ? Skipped : Packed;
}

class PackerTable : public ::testing::TestWithParam<Row>
{
};

// Refused: one line, and nothing written anywhere. Skipped: one line per item
// skipped. Packed (with --keep-all when that differs): the lesson opens with every
// file where its name says.
TEST_P(PackerTable, PacksSkipsOrRefusesAndTheLessonOpensAsNamed)
{
    const Row &row = GetParam();
    if (!row.file.isEmpty()) {
        EXPECT_EQ(NamePolicy::entryNameProblem(row.file).isEmpty(), row.keepAll != Refused);
    }
    if (row.verdict == NameOnly)
        return;
    Packing s;
    ASSERT_TRUE(row.file.isEmpty() || plant(QFile::encodeName(s.content), row.file));
    ASSERT_TRUE(!row.fault || row.fault(s));
    const QStringList before = testfiles::snapshot(s.box.path());
    PackerRun run = runPacker(s.arguments());
    EXPECT_EQ(verdictOf(run), row.verdict) << run.err.constData();
    if (row.verdict != Packed) {
        EXPECT_EQ(run.err.count('\n'), row.verdict == Refused ? 1 : 2) << run.err.constData();
        EXPECT_TRUE(run.err.startsWith("lesson-pack: ") && run.err.contains(row.message))
            << run.err.constData();
    }
    if (row.verdict == Refused) {
        EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(s.box.path())), QStringList());
    }
    const QString file = QString::fromUtf8(row.file);
    if (row.verdict == Skipped) {
        EXPECT_FALSE(entryNames(s.archive()).contains("pagewright_files/" + file));
        run = runPacker(s.arguments() << "--keep-all"
                                      << "--replace");
        EXPECT_EQ(verdictOf(run), row.keepAll) << run.err.constData();
    }
    if (verdictOf(run) != Packed)
        return;
    QProcess &unspool = s.box.start(bundleProgram(s.bundle(), "Unspool"));
    ASSERT_TRUE(unspool.waitForFinished(120000));
    EXPECT_EQ(unspool.exitCode(), 0);
    const QString lesson = s.box.temporary() + "/Brindle_Lessons/" + s.name + "/pagewright_files/";
    EXPECT_EQ(testfiles::read(lesson + "index.html"), "<h1>Start</h1>");
    if (!file.isEmpty()) {
        EXPECT_EQ(testfiles::read(lesson + file), "data");
    }
}

INSTANTIATE_TEST_SUITE_P(Names, PackerTable, ::testing::ValuesIn(kNames),
                         [](const auto &info) { return std::string(info.param.id); });
INSTANTIATE_TEST_SUITE_P(Refusals, PackerTable, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.id); });

bool picture(const QString &path, const char *size)
{
    return platform::runProcess("convert", {"-size", size, "xc:#c04020", path}).exitCode == 0;
}

// What the packer writes: Unspool's copy, an archive of the launcher, its installer
// and the content with their times, and the single file made by makeself.
TEST(PackerRun, WritesTheLessonItsArchiveAndTheSingleFile)
{
    Packing s;
    writeFakeBundle(s.unspool = s.box.path("Unspool.app"), "Unspool");
    for (const QString &bundle : {s.unspool, s.wayfarer}) // as if made self-contained
        QDir().mkpath(bundle + "/Contents/Frameworks"),
            QDir().mkpath(bundle + "/Contents/PlugIns/platforms");
    testfiles::write(s.box.path("player.pkg"), "installer");
    QFile svg(s.content + "/images/river.svg");
    ASSERT_TRUE(svg.open(QIODevice::ReadWrite) &&
                svg.setFileTime(QDateTime({2010, 3, 2}, {9, 30, 17}), QFile::FileModificationTime));
    s.extra = {"--installer", s.box.path("player.pkg"), "--single-file"};

    const PackerRun run = runPacker(s.arguments());
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, QFile::encodeName(s.bundle()) + "\n");
    EXPECT_EQ(run.err, "lesson-pack: packed " + QFile::encodeName(s.bundle()) + "\n");
    EXPECT_TRUE(unzipTestPasses(s.archive()));
    const char *pkg = "Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";
    EXPECT_EQ(
        entryNames(s.archive()),
        QStringList({"Wayfarer.app/Contents/Info.plist", "Wayfarer.app/Contents/MacOS/Wayfarer",
                     pkg, "pagewright_files/images/river.svg", "pagewright_files/index.html"}));
    EXPECT_EQ(entryContent(s.archive(), pkg), "installer");
    EXPECT_EQ(entryContent(s.archive(), "pagewright_files/index.html"), "<h1>Start</h1>");
    EXPECT_EQ(entryTime(s.archive(), "pagewright_files/images/river.svg"), "20100302.093016");
    EXPECT_EQ(entryTime(s.archive(), "pagewright_files/index.html"),
              dosTimeStamp(QFileInfo(s.content + "/index.html").lastModified()));
    const QRegularExpression notResources("^(?!Contents/Resources)");
    EXPECT_EQ(testfiles::tree(s.unspool), testfiles::tree(s.bundle()).filter(notResources));
    EXPECT_EQ(QDir(s.output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"Lesson.app", "Lesson.run"}));
    // The single file unpacks to the same bundle beside its startup script.
    const QString unpacked = s.box.path("run");
    ASSERT_EQ(
        platform::runProcess("sh", {s.output + "/Lesson.run", "--noexec", "--target", unpacked})
            .exitCode,
        0);
    EXPECT_EQ(testfiles::tree(unpacked + "/Lesson.app"), testfiles::tree(s.bundle()));
    EXPECT_TRUE(QFileInfo(unpacked + "/open-lesson").isExecutable());

    // A write that fails part-way (a file-size limit) leaves nothing behind, not
    // even the output folders the run made.
    QByteArray noise(3 << 20, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(noise.data()),
                                          noise.size() / 4);
    testfiles::write(s.content + "/noise.bin", noise);
    s.output = s.box.path("new/out");
    s.extra = {};
    EXPECT_EQ(childrun::run({packerExecutable(), s.arguments(), {}, 1 << 20}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(s.box.path("new")));
}

// The lesson's icon: the picture given is written as Lesson.icns (square, centred),
// named in Info.plist, and shown on the program's windows.
struct IconRow {
    const char *id, *size; // size empty: not a picture
    bool keepIcon, shown;
};

class BundleIcon : public ::testing::TestWithParam<IconRow>
{
};

TEST_P(BundleIcon, IsWrittenNamedAndShown)
{
    const IconRow &row = GetParam();
    Packing s;
    const QString png = s.box.path("icon.png");
    ASSERT_TRUE(*row.size ? picture(png, row.size) : testfiles::write(png, "no picture"));
    const PackerRun run = runPacker(s.arguments() << "--icon" << png);
    ASSERT_EQ(run.exitCode, *row.size ? 0 : 1) << run.err.constData();
    EXPECT_EQ(QImage(s.bundle("/Contents/Resources/Lesson.icns")).size(),
              *row.size ? QSize(256, 256) : QSize(0, 0));
    if (!row.keepIcon)
        QFile::remove(s.bundle("/Contents/Resources/Lesson.icns"));
    QApplication::setWindowIcon(QIcon());
    platform::setWindowIconFromBundle(*qApp, platform::LinuxMainBundle(s.bundle()));
    EXPECT_EQ(!QApplication::windowIcon().isNull(), row.shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, BundleIcon,
                         ::testing::Values(IconRow{"wide", "96x64", true, true},
                                           IconRow{"square", "300x300", true, true},
                                           IconRow{"removed", "64x64", false, false},
                                           IconRow{"not_a_picture", "", true, false}),
                         [](const auto &info) { return std::string(info.param.id); });

} // namespace
