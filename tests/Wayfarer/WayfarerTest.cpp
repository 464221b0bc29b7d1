// The trust file's byte rules: whole lines (CRLF too), no duplicates, appended to, or left alone;
// the built Wayfarer.app on a virtual X screen.
#include "Wayfarer/TrustFile.h"
#include "icons/IcnsFile.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{

struct TrustRow {
    const char *name;
    const char *before; // the file's content ("E" is our entry), a "pipe" there, a file at the
                        // "trust-folder"; nullptr: nothing
    const char *after;  // the file's content; nullptr: nothing changes
    const char *lesson = "/l";
    bool fullDisk = false; // no write may take the file past 8 bytes
    bool huge = false;     // a sparse 1.5 GiB file read under a limit on our address space
};

void PrintTo(const TrustRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("before", row.before)("lesson", row.lesson)(
        "fullDisk", row.fullDisk)("huge", row.huge);
}

const TrustRow kTrustRows[] = {
    {"freshAccountGetsTheChain", nullptr, "E\n"},
    {"sameLessonAgainNoDuplicate", "E\n", nullptr},
    {"unfinishedLastLineEndedFirst", "/o", "/o\nE\n"},
    {"listedAsUnfinishedLastLine", "/o\nE", nullptr},
    {"listedWithCrlf", "/a\r\nE\r\n/b\r\n", nullptr},
    {"crlfFileGainsALine", "/o\r\n", "/o\r\nE\n"},
    {"prefixOfALongerLine", "E/chapter\n", "E/chapter\nE\n"},
    {"otherBytesKept", "/j\xc3\xbc\n\xff\x80\n", "/j\xc3\xbc\n\xff\x80\nE\n"},
    {"lineBreakInTheLessonPath", nullptr, nullptr, "/l\n/home"},
    {"pipeAtTheFile", "pipe", nullptr},
    {"fileAtTheTrustFolder", "trust-folder", nullptr},
    {"writeCutShort", "/a/pagewright_files\n", nullptr, "/l", true},
    {"hugeFileReadInPieces", "", "\nE\n", "/l", false, true},
};

// Our address space may grow by this much at most: less than the huge file.
void limitAddressSpace(rlimit &saved)
{
    ::getrlimit(RLIMIT_AS, &saved);
    const QByteArray status = testfiles::read("/proc/self/status");
    const qsizetype at = status.indexOf("VmSize:") + 7;
    const rlim_t used = status.mid(at, status.indexOf("kB", at) - at).trimmed().toULongLong() << 10;
    const rlimit limit{used + (rlim_t{512} << 20), saved.rlim_max};
    ::setrlimit(RLIMIT_AS, &limit);
}

using TrustFileRules = ::testing::TestWithParam<TrustRow>;

TEST_P(TrustFileRules, LeaveTheFileAsExpected)
{
    const TrustRow &row = GetParam();
    QTemporaryDir home;
    const QByteArray folder = wayfarer::TrustFile::trustFolderPath(QFile::encodeName(home.path()));
    const QByteArray file = wayfarer::TrustFile::trustFilePath(folder);
    const QByteArray entry = wayfarer::TrustFile::trustEntry(row.lesson);
    const QByteArray before = QByteArray(row.before).replace("E", entry);
    constexpr qint64 kHuge = qint64{3} << 29;
    if (before == "pipe") {
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)) && ::mkfifo(file, 0644) == 0);
    } else if (row.before) {
        ASSERT_TRUE(
            testfiles::write(QFile::decodeName(before == "trust-folder" ? folder : file), before));
        ASSERT_TRUE(!row.huge || QFile::resize(QFile::decodeName(file), kHuge));
    }
    const QStringList state = row.huge ? QStringList() : testfiles::snapshot(home.path());
    struct stat was {
    }, is{};
    const bool existed = ::lstat(file, &was) == 0;
    rlimit addressSpace{};
    if (row.huge)
        limitAddressSpace(addressSpace);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit eightBytes{8, limit.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing us
    ::setrlimit(RLIMIT_FSIZE, row.fullDisk ? &eightBytes : &limit);
    EXPECT_TRUE(wayfarer::TrustFile::addEntry(folder, entry));
    ::setrlimit(RLIMIT_FSIZE, &limit);
    if (row.huge)
        ::setrlimit(RLIMIT_AS, &addressSpace);

    QFile written(QFile::decodeName(file));
    const QByteArray after = QByteArray(row.after).replace("E", entry);
    if (row.huge) { // the file's end: what was added
        ASSERT_TRUE(written.open(QIODevice::ReadOnly) && written.seek(kHuge));
        EXPECT_EQ(written.readAll(), after);
    } else if (row.after) {
        EXPECT_EQ(written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray(), after);
    } else {
        EXPECT_EQ(testfiles::changes(state, testfiles::snapshot(home.path())), QStringList());
    }
    // Appended to, never written anew: a write cut short loses no line of others.
    if (existed && ::lstat(file, &is) == 0) {
        EXPECT_EQ(is.st_ino, was.st_ino);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TrustFileRules, ::testing::ValuesIn(kTrustRows), rows::byName);

// The built Wayfarer.app in a lesson folder, on a virtual X screen; Tab: installer, vendor buttons.
struct RunRow {
    const char *name;
    int openerStatus;
    QStringList made, keys;   // files made first ("@": the lesson folder); keys pressed
    bool alert, ends;         // an alert titled "Wayfarer" shows (Return dismisses it); ends with 0
    QStringList opened;       // what reached xdg-open
    bool trusted;             // the content folder is a line of the trust file
    bool secondStart = false; // a second Wayfarer of the lesson is started first
    bool notUtf8 = false;     // the lesson folder and home are named by bytes that are not UTF-8
};

void PrintTo(const RunRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("openerStatus", row.openerStatus)("made", row.made)(
        "keys", row.keys)("secondStart", row.secondStart)("notUtf8", row.notUtf8);
}

const QString kPage = "@/pagewright_files/index.html";
const QString kPackage = "@/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";
const QStringList kLesson{"space"};
// The lesson folder's name, as arguments of no format and as a title's modified mark.
const QString kName = "My 100% %1 %@ [*]";

const RunRow kRows[] = {
    {"lessonOpensAndEnds", 0, {kPage}, kLesson, false, true, {kPage}, true},
    {"secondStartLeavesOneWindow", 0, {kPage}, kLesson, false, true, {kPage}, true, true},
    {"missingStartPageAlerts", 0, {}, kLesson, true, false, {}, true},
    {"openerWithoutHandlerAlerts", 3, {kPage}, kLesson, true, false, {kPage}, true},
    {"unwritableTrustAlertsThenLaunches",
     0,
     {kPage, "@/../home/Library"},
     kLesson,
     true,
     true,
     {kPage},
     false},
    {"installerAndVendorSiteOpened",
     0,
     {kPage, kPackage},
     {"Tab", "space", "Tab", "space", "shift+Tab", "shift+Tab", "space"},
     false,
     true,
     {kPackage, "http://www.example.com/", kPage},
     true},
    {"notUtf8FoldersAsTheyAre", 0, {kPage}, kLesson, false, true, {kPage}, true, false, true},
};

QByteArray readAt(const QByteArray &path) // a path that need not be UTF-8
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
               ? file.readAll()
               : QByteArray();
}

const QRgb kIconColour = qRgb(0xc0, 0x40, 0x20);

// The bundle's icon becomes a plain square of kIconColour.
bool paintIcon(const QString &icns)
{
    QImage square(128, 128, QImage::Format_RGB32);
    square.fill(kIconColour);
    const QString png = icns + ".png";
    QString why;
    return square.save(png) && icons::convertToIcns(png, icns, why) && QFile::remove(png);
}

// How many pixels of the window, as the screen shows it, are of the icon's colour.
qsizetype iconPixels(const QString &screenshot, const QByteArray &window)
{
    if (QProcess::execute("import", {"-window", window, screenshot}) != 0)
        return -1;
    const QImage shot = QImage(screenshot).convertToFormat(QImage::Format_RGB32);
    qsizetype count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += shot.pixel(x, y) == kIconColour;
    return count;
}

using WayfarerBundle = ::testing::TestWithParam<RunRow>;

TEST_P(WayfarerBundle, AnswersItsButtons)
{
    const RunRow &row = GetParam();
    if (!haveDisplay())
        GTEST_SKIP() << "needs an X display (ctest runs this on a virtual screen)";
    Sandbox box;
    const QString lesson = box.path(kName);
    const QString bundle = box.copyBundle(WAYFARER_BUNDLE, kName + "/Wayfarer.app");
    ASSERT_TRUE(!bundle.isEmpty() && box.writeOpener(row.openerStatus));
    for (QString path : row.made)
        ASSERT_TRUE(testfiles::write(path.replace('@', lesson), "x"));
    ASSERT_TRUE(paintIcon(bundle + "/Contents/Resources/Wayfarer.icns"));
    const QByteArray root = QFile::encodeName(box.path());
    const QByteArray folder = row.notUtf8 ? root + "/les\xe9son" : QFile::encodeName(lesson);
    const QByteArray home = row.notUtf8 ? root + "/h\xe9" : QFile::encodeName(box.home());
    ASSERT_TRUE(!row.notUtf8 || (::rename(QFile::encodeName(lesson), folder) == 0 &&
                                 ::mkdir(home.constData(), 0700) == 0));
    const auto ascii = qScopeGuard([&] { // names the sandbox's removal can spell
        ::rename(home, root + "/h"), ::rename(folder, QFile::encodeName(lesson));
    });

    const char *start = row.notUtf8 ? "HOME=\"$0/$(printf 'h\\351')\" exec \"$0/$(printf "
                                      "'les\\351son')/Wayfarer.app/Contents/MacOS/Wayfarer\""
                                    : "exec \"$1\"";
    const QStringList startArgs{"-c", start, box.path(), bundleProgram(bundle, "Wayfarer")};
    QProcess &wayfarer = box.start("/bin/sh", startArgs, true);
    const QByteArray window = waitForWindow(wayfarer.processId(), "^Lesson Setup");
    ASSERT_FALSE(window.isEmpty()) << "the launcher window never appeared";
    const QString name = QFile::decodeName(folder.mid(folder.lastIndexOf('/') + 1));
    EXPECT_EQ(xdotool({"getwindowname", window}), ("Lesson Setup \u2014 " + name).toUtf8());
    EXPECT_GE(iconPixels(box.path("window.png"), window), 48 * 48);
    if (row.secondStart) {
        QProcess &second = box.start(bundleProgram(bundle, "Wayfarer"), {}, true);
        EXPECT_TRUE(second.waitForFinished(60000) && second.exitCode() == 0);
        EXPECT_EQ(xdotool({"search", "--onlyvisible", "--name", "^Lesson Setup"}), window);
    }
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}) &&
                xdotool(QStringList{"key"} + row.keys));
    if (row.alert) {
        const QByteArray alert = waitForWindow(wayfarer.processId(), "^Wayfarer$");
        ASSERT_FALSE(alert.isEmpty()) << "no alert appeared";
        ASSERT_TRUE(!row.ends ||
                    (xdotool({"windowfocus", "--sync", alert}) && xdotool({"key", "Return"})));
    }
    if (row.ends) {
        EXPECT_TRUE(wayfarer.waitForFinished(60000) && wayfarer.exitCode() == 0);
    } else {
        EXPECT_FALSE(waitForWindow(wayfarer.processId(), "^Lesson Setup").isEmpty());
    }
    QByteArray opened;
    for (const QString &item : row.opened)
        opened += QFile::encodeName(item).replace("@", folder) + '\n';
    EXPECT_EQ(testfiles::read(box.path("opened.txt")), opened);
    EXPECT_EQ(readAt(home + "/Library/Preferences/Tamarind/Glimmer Player/#Security/"
                            "GlimmerPlayerTrust/brindle_local.cfg"),
              row.trusted ? folder + "/pagewright_files\n" : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(Rows, WayfarerBundle, ::testing::ValuesIn(kRows), rows::byName);

} // namespace
