// Where lessons go: a private TMPDIR, else a private user-<uid> in it, else Downloads, else home.
// How the opener is waited for. How alerts look.
#include "platform/linux/LinuxOpenService.h"
#include "platform/linux/LinuxTemporaryDirectory.h"
#include "platform/linux/QtAlerts.h"

#include "tests/support/ChildRun.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Shell commands in a fresh root with home/ (U: user-<uid>), TMPDIR and user-dirs.dirs (nullptr:
// none), the folder found below the root ("": none), whether Brindle_Lessons/L is made private.
struct PlaceRow {
    const char *name, *arrange, *tmpdir, *userDirs, *expected;
    bool lessonFolder;
};

void PrintTo(const PlaceRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("arrange", row.arrange)("tmpdir", row.tmpdir)("userDirs",
                                                                             row.userDirs);
}

const char kDownloads[] = "XDG_DOWNLOAD_DIR=\"$HOME/D\"\n";

const PlaceRow kRows[] = {
    {"privateTmpdirAsItIs", "mkdir -m700 t", "t", nullptr, "t/", true},
    {"notUtf8TmpdirAsItIs", "mkdir -m700 \"$(printf 't\\377')\"", "t\xff", nullptr, "t\xff/", true},
    {"openTmpdirGetsUserFolder", "mkdir -m755 t", "t", nullptr, "t/U/", true},
    {"stickySharedTmpdirGetsUserFolder", "mkdir -m1777 t", "t", nullptr, "t/U/", true},
    // Another user can rename our entries there (and shows it): the download folder instead.
    {"sharedTmpdirNotStickyRefused",
     "chmod 755 . && mkdir -m777 t && mkdir home/D t/v && setpriv --reuid=65534 --regid=65534 "
     "--clear-groups "
     "mv t/v t/w",
     "t", kDownloads, "home/D/", true},
    {"tmpdirOfAnotherUserRefused", "mkdir -m755 t home/D && chown 65534 t", "t", kDownloads,
     "home/D/", true},
    {"userFolderLeftOpenIsClosed", "mkdir -m755 t && mkdir -m777 t/U", "t", nullptr, "t/U/", true},
    // A user folder taken first by someone else is passed over, never followed or used.
    {"userFolderALinkIsPassedOver", "mkdir -m755 t e home/D && ln -s ../e t/U", "t", kDownloads,
     "home/D/", true},
    {"userFolderOfAnotherUserPassedOver", "mkdir -m1777 t && mkdir t/U && chown 65534 t/U", "t",
     nullptr, "home/", true},
    {"userFolderAFilePassedOver", "mkdir -m1777 t && touch t/U", "t", nullptr, "home/", true},
    {"tmpdirNoFolderIsUnset", "touch t", "t", nullptr, "home/", true},
    {"downloadFolder", "mkdir home/D", nullptr, kDownloads, "home/D/", true},
    {"escapesUndone", "mkdir 'home/a \"b\" $c'", nullptr,
     "XDG_DOWNLOAD_DIR=\"$HOME/a \\\"b\\\" \\$c\"\n", "home/a \"b\" $c/", true},
    {"missingDownloadFolderHome", ":", nullptr, kDownloads, "home/", true},
    {"relativeHome", "mkdir home/D", nullptr, "XDG_DOWNLOAD_DIR=\"D\"\n", "home/", true},
    {"openDownloadFolderHome", "mkdir -m777 home/D", nullptr, kDownloads, "home/", true},
    {"othersDownloadFolderHome", "mkdir home/D && chown 65534 home/D", nullptr, kDownloads, "home/",
     true},
    {"lessonsFolderLeftOpenIsClosed", "mkdir -m700 t && mkdir -m777 t/Brindle_Lessons", "t",
     nullptr, "t/", true},
    {"lessonsFolderALinkIsRefused", "mkdir -m700 t e && ln -s ../e t/Brindle_Lessons", "t", nullptr,
     "t/", false},
};

class LessonPlace : public ::testing::TestWithParam<PlaceRow>
{
  protected:
    void TearDown() override
    {
        for (const auto &[name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        childrun::run({"/bin/rm", {"-rf", QFile::decodeName(root)}, {}}); // names need not be UTF-8
    }
    const QByteArray root = QDir::tempPath().toUtf8() + "/place-" + QByteArray::number(::getpid());
    QList<std::pair<const char *, QByteArray>> saved{
        {"TMPDIR", qgetenv("TMPDIR")},
        {"HOME", qgetenv("HOME")},
        {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME")}};
};

TEST_P(LessonPlace, IsPrivateOrRefused)
{
    const PlaceRow &row = GetParam();
    if (QByteArray(row.arrange).contains("chown") || QByteArray(row.arrange).contains("setpriv"))
        if (::getuid() != 0)
            GTEST_SKIP() << "only root can give a folder to another user or act as one";
    const QByteArray user = "user-" + QByteArray::number(::getuid());
    const QString arrange = QString::fromUtf8(QByteArray(row.arrange).replace("U", user));
    const QString script = "mkdir -m700 \"$0\" && cd \"$0\" && mkdir home && " + arrange;
    const childrun::Outcome made = childrun::run({"/bin/sh", {"-c", script, root}, {}});
    ASSERT_TRUE(made.exited && made.exitCode == 0) << made.output.constData();
    const QString userDirs = QFile::decodeName(root + "/home/.config/user-dirs.dirs");
    ASSERT_TRUE(!row.userDirs || testfiles::write(userDirs, row.userDirs));
    qputenv("HOME", root + "/home");
    qunsetenv("XDG_CONFIG_HOME");
    row.tmpdir ? qputenv("TMPDIR", root + '/' + row.tmpdir) : qunsetenv("TMPDIR");

    const platform::LinuxTemporaryDirectory temporary;
    const QByteArray place = temporary.path(), lessons = place + "Brindle_Lessons";
    const QByteArray expected = QByteArray(row.expected).replace("U", user);
    EXPECT_EQ(place, expected.isEmpty() ? expected : root + '/' + expected);
    EXPECT_EQ(temporary.makePrivateFolders("Brindle_Lessons/L"), row.lessonFolder);
    for (const QByteArray &folder : {place, lessons, lessons + "/L"}) {
        struct stat st {
        };
        if (row.lessonFolder && (folder.contains(user) || folder.contains("Brindle"))) {
            EXPECT_TRUE(::lstat(folder, &st) == 0 && (st.st_mode & 07777) == 0700) << folder.data();
        }
    }
    EXPECT_TRUE(QDir(QFile::decodeName(root + "/e")).isEmpty()) << "made through a link";
}

INSTANTIATE_TEST_SUITE_P(Rows, LessonPlace, ::testing::ValuesIn(kRows), rows::byName);

// An opener that tells its pid, then ends with the row's status once "<its argument>.go" is
// there; the event loop makes that file only while it runs. A status of -1: the file is made
// after the open, which has stopped waiting by then.
struct OpenerRow {
    const char *name;
    int status;
    bool opened;
};

const OpenerRow kOpenerRows[] = {
    {"endsWithZero", 0, true},
    {"endsWithFailure", 3, false},
    {"outlivesTheWait", -1, true},
};

void PrintTo(const OpenerRow &row, std::ostream *out)
{
    *out << row.name;
}

class OpenerWait : public ::testing::TestWithParam<OpenerRow>
{
};

TEST_P(OpenerWait, RunsTheEventLoopAndNoThreadOfOurs)
{
    const OpenerRow &row = GetParam();
    QTemporaryDir folder;
    const QString opener = folder.filePath("opener"), file = folder.filePath("page.html");
    const QString script = "#!/bin/sh\necho $$ >\"$1.pid\"\n"
                           "while [ ! -e \"$1.go\" ]; do sleep 0.01; done\nexit %1\n";
    ASSERT_TRUE(testfiles::writeExecutable(opener, script.arg(std::max(row.status, 0)).toUtf8()) &&
                testfiles::write(file, "x"));
    const auto go = [&] { ASSERT_TRUE(testfiles::write(file + ".go", "")); };
    if (row.status >= 0)
        QTimer::singleShot(0, go);
    const QDir threads("/proc/self/task");
    const qsizetype before = threads.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    // Waits as long as the other tests do; an opener still running at the end has started.
    const bool opened =
        platform::LinuxOpenService(opener, row.status >= 0 ? 60000 : 0).openFile(file);
    EXPECT_EQ(opened, row.opened);
    EXPECT_EQ(threads.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), before)
        << "a thread was started";
    ASSERT_TRUE(fileAppears(file + ".pid", 60000));
    const QString proc = "/proc/" + QString::fromLatin1(testfiles::read(file + ".pid").trimmed());
    if (row.status < 0) { // still running, then ended and reaped while the event loop runs
        EXPECT_TRUE(QFileInfo::exists(proc));
        go();
    }
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(proc); })) << "left as a zombie";
}

INSTANTIATE_TEST_SUITE_P(Rows, OpenerWait, ::testing::ValuesIn(kOpenerRows), rows::byName);

// Alert boxes over a window: titled with the program's name, a bold plain-text heading, all shown.
TEST(QtAlertsShown, ShowEveryWordUnderTheProgramsName)
{
    const char *const texts[][2] = {
        {"Error: /home/learner/Downloads/Brindle_Lessons/<b>Rivers</b>AndValleys_PartTwo/"
         "pagewright_files/index.html could not be found",
         ""},
        {"Error:  Glimmer Security Permissions could not be written.  Some items may not work "
         "properly.",
         ""},
        {"Applications are still open", "Some applications are still using Glimmer Player. Close "
                                        "them with their Close buttons, or press Force Close All."},
    };
    for (const auto &[message, informative] : texts) {
        QWidget window;
        window.show();
        bool ended = false;
        platform::QtAlerts(QStringLiteral("Wayfarer"))
            .beginSheet(&window, {message, informative, "Ok"}, [&ended] { ended = true; });
        QMessageBox *box = window.findChild<QMessageBox *>();
        ASSERT_TRUE(box && waitUntil([&] { return box->isVisible(); })) << message;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Wayfarer"));
        const auto *heading = box->findChild<QLabel *>("qt_msgbox_label");
        EXPECT_TRUE(heading->font().bold() && heading->textFormat() == Qt::PlainText);
        for (const auto &[name, text] : {std::pair{"qt_msgbox_label", QString::fromUtf8(message)},
                                         {"qt_msgbox_informativelabel", informative}}) {
            const auto *label = box->findChild<QLabel *>(name);
            if (text.isEmpty())
                continue;
            ASSERT_TRUE(label && label->isVisible()) << name;
            EXPECT_EQ(label->text(), text);
            const QRect shown = label->contentsRect();
            const QSize needed =
                label->fontMetrics()
                    .boundingRect(QRect(0, 0, shown.width(), INT_MAX),
                                  Qt::AlignLeft | (label->wordWrap() ? Qt::TextWordWrap : 0), text)
                    .size();
            EXPECT_EQ(needed.boundedTo(shown.size()), needed) << name << ": words or lines cut off";
            EXPECT_TRUE(box->rect().contains(QRect(label->mapTo(box, QPoint()), label->size())));
        }
        box->accept();
        EXPECT_TRUE(ended);
    }
}

} // namespace
