// The real packer over real folders, its output read back by Info-ZIP and Python's zipfile,
// and each lesson it writes opened by the built Unspool offscreen. Big files are sparse.
#include "naming/NamePolicy.h"
#include "platform/ProcessRunner.h"
#include "platform/linux/BundledQt.h"
#include "platform/linux/LinuxMainBundle.h"
#include "tests/support/ChildRun.h"
#include "tests/support/PackerHarness.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace packertest;

namespace
{

QByteArray unzip(const QStringList &arguments)
{
    return platform::runProcess("unzip", arguments).output;
}

// One packer run's paths and arguments in a sandbox; tests change them or the disk.
struct Packing {
    Sandbox box;
    QString unspool = box.path("Unspool.app"), wayfarer = box.path("Wayfarer.app");
    QString content = box.path("content"), name = "Lesson", output = box.path("out");
    QStringList extra;
    Packing()
    {
        for (const QString program : {"Unspool", "Wayfarer"}) { // minimal: a script that exits 0
            const QString contents = box.path(program + ".app/Contents/");
            const QByteArray plist = "<plist><dict><key>CFBundleExecutable</key><string>" +
                                     program.toUtf8() + "</string></dict></plist>";
            testfiles::write(contents + "Info.plist", plist);
            testfiles::writeExecutable(contents + "MacOS/" + program, "#!/bin/sh\nexit 0\n");
        }
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
    QStringList entries() const
    {
        return QString::fromUtf8(unzip({"-Z1", archive()})).split('\n', Qt::SkipEmptyParts);
    }
};

// NameOnly: a name no file on disk can carry, so only the policy itself is asked.
enum Verdict { Packed, Skipped, Refused, NameOnly };

struct Row {
    const char *name;
    QByteArray file; // planted below the content folder, as bytes
    Verdict verdict, keepAll;
    const char *message = "";           // in the packer's line(s) on standard error
    bool (*fault)(Packing &) = nullptr; // changes the arguments or the disk first
};

void PrintTo(const Row &row, std::ostream *out)
{
    rows::Print(out, row.name)("file", row.file);
}

const Row kNames[] = {
    {"blanks_percent", "100% of a river.html", Packed, Packed},
    {"unicode", "R\xc3\xado y Lagos/\xe2\x82\xac \xf0\x9f\x8c\x8a.html", Packed, Packed},
    {"japanese", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", Packed, Packed},
    {"not_utf8", "caf\xe9.html", Refused, Refused, "/caf\\xe9.html: its name is not valid UTF-8"},
    {"line_break", "a\nb.html", Refused, Refused, "/a\\x0ab.html: its name holds a control"},
    {"delete", "a\x7f.html", Refused, Refused, "/a\\x7f.html: its name holds a control"},
    {"backslash", "a\\b.html", Refused, Refused, "/a\\b.html: its name holds a backslash"},
    {"dot_dot_part", "a/../b.html", NameOnly, Refused},
    {"doubled_slash", "a//b.html", NameOnly, Refused},
    {"ds_store", ".DS_Store", Skipped, Packed, "/.DS_Store (desktop litter"},
    {"icon_return", "Icon\r", Skipped, Refused, "/Icon\\x0d (desktop litter"},
    {"macosx_folder", "__MACOSX/a.html", Skipped, Packed, "/__MACOSX (desktop litter"},
    {"apple_double", "._a.html", Skipped, Packed, "/._a.html (desktop litter"},
    {"git_folder", ".git/config", Skipped, Packed, "/.git (desktop litter"},
    {"svn_folder", "images/.svn/entries", Skipped, Packed, "images/.svn (desktop litter"},
    {"backup", "a.html~", Skipped, Packed, "/a.html~ (desktop litter"},
};

#define SET(what) [](Packing &s) { return (what), true; }
#define DO(what) [](Packing &s) { return what; }
const Row kRefusals[] = {
    {"lesson_longest", "", Packed, Packed, "", SET(s.name = "R\xc3\xado %@" + QString(244, 'x'))},
    {"lesson_too_long", "", Refused, Refused, "too long (256 bytes",
     SET(s.name = QString(252, 'x'))},
    {"lesson_empty", "", Refused, Refused, "the lesson name is empty", SET(s.name = "")},
    {"lesson_dot_dot", "", Refused, Refused, "is not a folder name", SET(s.name = "..")},
    {"lesson_backslash", "", Refused, Refused, "contains \"\\\"", SET(s.name = "..\\a")},
    {"lesson_line_break", "", Refused, Refused, "control character", SET(s.name = "a\nb")},
    {"no_start_page", "", Refused, Refused, "has no start page",
     DO(QFile::remove(s.content + "/index.html"))},
    {"named_pipe", "", Refused, Refused, "images/pipe is not a regular file",
     DO(::mkfifo(QFile::encodeName(s.content + "/images/pipe").constData(), 0644) == 0)},
    {"link_in_wayfarer", "", Refused, Refused, "/c is a symbolic link",
     DO(QFile::link("Info.plist", s.wayfarer + "/c"))},
    {"content_missing", "", Refused, Refused, "none is not a folder",
     SET(s.content = s.box.path("none"))},
    {"output_exists", "", Refused, Refused, "(use --replace", DO(QFile::link("none", s.bundle()))},
    {"output_in_content", "", Refused, Refused, "lies inside the content",
     SET(s.output = s.content + "/o")},
    {"no_installer", "", Refused, Refused, "none.pkg does not exist",
     SET(s.extra = QStringList({"--installer", "none.pkg"}))},
    {"not_a_bundle", "", Refused, Refused, "not a built Unspool bundle",
     SET(s.unspool = s.content)},
};
#undef SET
#undef DO

Verdict verdictOf(const PackerRun &run)
{
    return run.exitCode != 0 ? Refused : run.err.contains("skipping") ? Skipped : Packed;
}

using PackerTable = ::testing::TestWithParam<Row>;

// Refused: one line, nothing written. Skipped: one line per item skipped. Packed (with
// --keep-all when that differs): the lesson opens with every file where its name says.
TEST_P(PackerTable, PacksSkipsOrRefusesAndTheLessonOpensAsNamed)
{
    const Row &row = GetParam();
    EXPECT_TRUE(row.file.isEmpty() ||
                NamePolicy::entryNameProblem(row.file).isEmpty() == (row.keepAll != Refused));
    if (row.verdict == NameOnly)
        return;
    Packing s;
    s.unspool = UNSPOOL_BUNDLE;
    if (!row.file.isEmpty()) {
        const std::filesystem::path file = (QFile::encodeName(s.content) + '/' + row.file).data();
        std::filesystem::create_directories(file.parent_path());
        ASSERT_TRUE(std::ofstream(file) << "data");
        std::filesystem::permissions(file, std::filesystem::perms(0754));
    }
    ASSERT_TRUE(!row.fault || row.fault(s));
    const QStringList before = testfiles::snapshot(s.box.path());
    PackerRun run = runPacker(s.arguments());
    EXPECT_EQ(verdictOf(run), row.verdict) << run.err.constData();
    EXPECT_TRUE(row.verdict == Packed ||
                (run.err.count('\n') == (row.verdict == Refused ? 1 : 2) &&
                 run.err.startsWith("lesson-pack: ") && run.err.contains(row.message)))
        << run.err.constData();
    if (row.verdict == Refused) {
        EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(s.box.path())), QStringList());
    }
    const QString file = QString::fromUtf8(row.file);
    if (row.verdict == Skipped) {
        EXPECT_FALSE(s.entries().contains("pagewright_files/" + file));
        run = runPacker(s.arguments() + QStringList{"--keep-all", "--replace"});
        EXPECT_EQ(verdictOf(run), row.keepAll) << run.err.constData();
    }
    if (verdictOf(run) != Packed)
        return;
    const QString page = file.isEmpty() ? "images/river.svg" : file;
    const QByteArray content = file.isEmpty() ? "<svg/>" : "data";
    // Info-ZIP gives every name back byte for byte, and every mode: the entries say they
    // were made on Unix.
    const QString unzipped = s.box.path("unzipped");
    platform::runProcess(
        "env", {"LANG=C.UTF-8", "unzip", "-q", s.archive(), "pagewright_files/*", "-d", unzipped});
    EXPECT_EQ(testfiles::tree(unzipped + "/pagewright_files"), testfiles::tree(s.content));
    QProcess &unspool = s.box.start(bundleProgram(s.bundle(), "Unspool"));
    ASSERT_TRUE(unspool.waitForFinished(120000));
    EXPECT_EQ(unspool.exitCode(), 0);
    const QString lesson = s.box.temporary() + "/Brindle_Lessons/" + s.name + "/pagewright_files/";
    EXPECT_EQ(testfiles::read(lesson + "index.html"), "<h1>Start</h1>");
    EXPECT_EQ(testfiles::read(lesson + page), content);
}

INSTANTIATE_TEST_SUITE_P(Names, PackerTable, ::testing::ValuesIn(kNames), rows::byName);
INSTANTIATE_TEST_SUITE_P(Refusals, PackerTable, ::testing::ValuesIn(kRefusals), rows::byName);

struct LinkRow {
    const char *name;
    const char *link, *target; // content/<link> points to <target>; ../outside.js lies beside
    const char *refusal;       // with --dereference: the refusal, or "" when packed
    QStringList packed;        // then: what the link brings below pagewright_files/
};

void PrintTo(const LinkRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("link", row.link)("target", row.target);
}

const LinkRow kLinks[] = {
    {"to_a_file_inside", "images/copy.svg", "river.svg", "", {"images/copy.svg"}},
    {"to_a_folder", "pictures", "images", "", {"pictures/river.svg"}},
    {"leading_outside", "outside.js", "../outside.js", "", {"outside.js"}},
    {"dangling", "gone.html", "none.html", "gone.html is a symbolic link to nothing (", {}},
    {"looping_link", "self", "self", "/self is a symbolic link that loops", {}},
    {"looping_folder",
     "images/again",
     "..",
     "/images/again leads back into a folder that holds it",
     {}},
    {"to_a_device", "null", "/dev/null", "/null is not a regular file or folder", {}},
};

using PackerLinks = ::testing::TestWithParam<LinkRow>;

// Without --dereference a link is refused, naming the option; with it, what the link points
// to is packed under its name, or the link is refused with its path. Refused: nothing written.
TEST_P(PackerLinks, AreRefusedOrPackedAsWhatTheyPointTo)
{
    const LinkRow &row = GetParam();
    Packing s;
    testfiles::write(s.box.path("outside.js"), "outside");
    std::filesystem::create_symlink(row.target,
                                    (QFile::encodeName(s.content) + '/' + row.link).data());
    const QStringList before = testfiles::snapshot(s.box.path());
    PackerRun run = runPacker(s.arguments());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "lesson-pack: refusing 1 symbolic link (--dereference, or -L, packs what "
                       "each points to; or put the files themselves there):\n  " +
                           QFile::encodeName(s.content) + '/' + row.link + '\n');
    run = runPacker(s.arguments() << "--dereference");
    EXPECT_EQ(run.exitCode, *row.refusal ? 1 : 0) << run.err.constData();
    if (*row.refusal) {
        EXPECT_TRUE(run.err.startsWith("lesson-pack: ") && run.err.contains(row.refusal) &&
                    run.err.count('\n') == 1)
            << run.err.constData();
        EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(s.box.path())), QStringList());
        return;
    }
    QStringList entries{"Wayfarer.app/Contents/Info.plist", "Wayfarer.app/Contents/MacOS/Wayfarer",
                        "pagewright_files/images/river.svg", "pagewright_files/index.html"};
    entries.append(
        QStringList(row.packed).replaceInStrings(QRegularExpression("^"), "pagewright_files/"));
    entries.sort();
    EXPECT_EQ(s.entries(), entries);
    EXPECT_EQ(run.out, QFile::encodeName(s.bundle()) + '\n');
    const QByteArray expected = row.packed.first().endsWith(".js") ? "outside" : "<svg/>";
    EXPECT_EQ(unzip({"-p", s.archive(), "pagewright_files/" + row.packed.first()}), expected);
}

INSTANTIATE_TEST_SUITE_P(Links, PackerLinks, ::testing::ValuesIn(kLinks), rows::byName);

// All links of a folder are refused in one run; past twenty the rest are counted.
TEST(PackerRun, RefusesEveryLinkInOneRun)
{
    Packing s;
    for (int i = 0; i < 22; ++i)
        QFile::link("../index.html",
                    s.content + QString("/images/%1.html").arg(i, 2, 10, QChar('0')));
    const PackerRun run = runPacker(s.arguments());
    EXPECT_EQ(run.exitCode, 1);
    const QList<QByteArray> lines = run.err.split('\n');
    ASSERT_EQ(lines.size(), 23) << run.err.constData();
    EXPECT_TRUE(lines[0].startsWith("lesson-pack: refusing 22 symbolic links (--dereference"));
    EXPECT_EQ(lines[20], "  " + QFile::encodeName(s.content) + "/images/19.html");
    EXPECT_EQ(lines[21], "  ... and 2 more");
}

// What the packer writes: Unspool's copy, an archive of the launcher, its installer and the
// content with their times, and the single file.
TEST(PackerRun, WritesTheLessonItsArchiveAndTheSingleFile)
{
    Packing s;
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
    // The file to send, last on stdout; then the steps to send to learners with it.
    EXPECT_EQ(run.out, QFile::encodeName(s.output) + "/Lesson.run\n");
    EXPECT_TRUE(run.err.startsWith("lesson-pack: packed " + QFile::encodeName(s.bundle()) + "\n") &&
                run.err.contains("send Lesson.run to learners") &&
                run.err.contains("./\"Lesson.run\""))
        << run.err.constData();
    EXPECT_EQ(platform::runProcess("unzip", {"-tqq", s.archive()}).exitCode, 0);
    const char *pkg = "Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";
    EXPECT_EQ(
        s.entries(),
        QStringList({"Wayfarer.app/Contents/Info.plist", "Wayfarer.app/Contents/MacOS/Wayfarer",
                     pkg, "pagewright_files/images/river.svg", "pagewright_files/index.html"}));
    EXPECT_EQ(unzip({"-p", s.archive(), pkg}), "installer");
    // A DOS time in local time, an odd second read as the even one before it.
    EXPECT_TRUE(unzip({"-Z", "-T", s.archive(), "pagewright_files/images/river.svg"})
                    .contains(" 20100302.093016 "));
    EXPECT_EQ(testfiles::tree(s.unspool),
              testfiles::tree(s.bundle()).filter(QRegularExpression("^(?!Contents/Resources)")));
    EXPECT_EQ(QDir(s.output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"Lesson.app", "Lesson.run"}));
    // The single file is a program that carries the lesson archive as it is.
    const QString single = s.output + "/Lesson.run";
    EXPECT_TRUE(QFileInfo(single).isExecutable());
    EXPECT_EQ(testfiles::read(single).left(4), "\x7f"
                                               "ELF");
    EXPECT_EQ(unzip({"-Z1", single}), unzip({"-Z1", s.archive()}));

    // On a terminal the count is of the lesson's own files, not the launcher's too.
    s.extra = {"--replace"};
    QStringList command{LESSON_PACK_EXECUTABLE};
    command << s.arguments();
    const QByteArray shown =
        platform::runProcess("script", {"-qec", "'" + command.join("' '") + "'", "/dev/null"})
            .output;
    EXPECT_TRUE(shown.contains("packing 2/2 files") && !shown.contains("/4 files")) << shown.data();

    // A write that fails part-way (a file-size limit) leaves nothing behind, not even the
    // output folders the run made.
    s.output = s.box.path("new/out");
    EXPECT_EQ(childrun::run({LESSON_PACK_EXECUTABLE, s.arguments(), {}, 512}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(s.box.path("new")));
}

// The lesson's icon: a picture is written as a square Lesson.icns, named in Info.plist and
// shown on the program's windows, in Unspool.app and in the archive's Wayfarer.app; none is
// shown once the file is gone; no picture, no lesson.
TEST(BundleIcon, IsWrittenNamedAndShown)
{
    Packing s;
    s.unspool = UNSPOOL_BUNDLE;
    const QString png = s.box.path("icon.png"), icns = s.bundle("/Contents/Resources/Lesson.icns");
    const auto shown = [&] {
        QApplication::setWindowIcon(QIcon());
        platform::setWindowIconFromBundle(*qApp, platform::LinuxMainBundle(s.bundle()));
        return !QApplication::windowIcon().isNull();
    };
    ASSERT_TRUE(testfiles::write(png, "no picture"));
    EXPECT_EQ(runPacker(s.arguments() << "--icon" << png).exitCode, 1);
    ASSERT_EQ(platform::runProcess("convert", {"-size", "96x64", "xc:#c04020", png}).exitCode, 0);
    const PackerRun run = runPacker(s.arguments() << "--icon" << png);
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(QImage(icns).size(), QSize(256, 256));
    EXPECT_TRUE(shown());
    // The setup window shows it too: the lesson's Wayfarer.app carries it the same way.
    EXPECT_EQ(unzip({"-p", s.archive(), "Wayfarer.app/Contents/Resources/Lesson.icns"}),
              testfiles::read(icns));
    EXPECT_TRUE(unzip({"-p", s.archive(), "Wayfarer.app/Contents/Info.plist"})
                    .contains("<key>CFBundleIconFile</key>\n\t<string>Lesson.icns</string>"));
    QFile::remove(icns);
    EXPECT_FALSE(shown());
}

// Python's zipfile: every entry's check, the count, the largest size, 64-bit end records or not.
std::string zipfileSays(const QString &archive)
{
    const char *check = "import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); i = z.infolist();"
                        "print(z.testzip(), len(i), max(e.file_size for e in i),"
                        " open(sys.argv[1], 'rb').read()[-42:][:4] == b'PK\\x06\\x07')";
    return platform::runProcess("python3", {"-c", check, archive}).output.trimmed().toStdString();
}

// A file over 4 GiB gets ZIP64 sizes, and the packer's memory stays small: it streams. First,
// so that no earlier child's peak counts among our children's.
TEST(PackerLarge, AFileOverFourGigabytesGetsZip64SizesInLittleMemory)
{
    Packing s;
    ASSERT_TRUE(QFile(s.content + "/video.bin").open(QIODevice::WriteOnly) &&
                QFile::resize(s.content + "/video.bin", qint64(4500) << 20));
    const childrun::Outcome end =
        childrun::run({LESSON_PACK_EXECUTABLE, s.arguments(), {}, -1, 3600000});
    ASSERT_EQ(end.exitCode, 0) << end.output.constData();
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 64 * 1024) << "peak resident KiB";
    EXPECT_EQ(zipfileSays(s.archive()), "None 5 4718592000 False");
}

TEST(PackerLarge, SeventyThousandFilesGetZip64EndRecords)
{
    Packing s;
    for (int i = 0; i < 70000; ++i)
        ASSERT_TRUE(
            testfiles::write(s.content + QString("/many/%1.txt").arg(i), QByteArray::number(i)));
    const PackerRun run = runPacker(s.arguments());
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(zipfileSays(s.archive()), "None 70004 82 True");
    EXPECT_EQ(unzip({"-p", s.archive(), "pagewright_files/many/69999.txt"}), "69999");
}

// Ended by a signal while it writes the archive in its staging folder: the staging folder and
// the output folders, which the run made, are gone, and the signal ends it.
TEST(PackerLarge, ASignalLeavesNoStagingFolderAndNoLesson)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        Packing s;
        s.output = s.box.path("new/out");
        ASSERT_TRUE(QFile(s.content + "/video.bin").open(QIODevice::WriteOnly) &&
                    QFile::resize(s.content + "/video.bin", qint64(4096) << 20));
        QProcess packer;
        packer.start(LESSON_PACK_EXECUTABLE, s.arguments());
        ASSERT_TRUE(waitUntil([&] {
            return !platform::runProcess("find", {s.box.path(), "-name", "archive.zip"})
                        .output.isEmpty();
        }));
        ::kill(packer.processId(), signal);
        ASSERT_TRUE(packer.waitForFinished(600000));
        EXPECT_EQ(packer.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(packer.exitCode(), signal);
        EXPECT_FALSE(QFileInfo::exists(s.box.path("new")));
    }
}

} // namespace
