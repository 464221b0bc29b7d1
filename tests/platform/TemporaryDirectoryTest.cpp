// Where lessons are unpacked: a private TMPDIR as it is, a private user-<uid> folder
// below any other, else the download folder user-dirs.dirs names; and the lesson
// folders below it made private, or refused where something else stands there.
#include "LinuxTemporaryDirectory.h"

#include "ChildRun.h"
#include "TestFiles.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct PlaceRow {
    const char *name;
    const char *arrange;  // shell commands run in a fresh root with home/ in it; U is user-<uid>
    const char *tmpdir;   // below the root; nullptr: unset
    const char *userDirs; // home/.config/user-dirs.dirs; nullptr: none
    const char *expected; // the temporary folder below the root; "": none
    bool lessonFolder;    // Brindle_Lessons/L is made, private, below it
};

std::ostream &operator<<(std::ostream &out, const PlaceRow &row)
{
    return out << row.name;
}

const char kDownloads[] = "XDG_DOWNLOAD_DIR=\"$HOME/D\"\n";

const PlaceRow kRows[] = {
    {"privateTmpdirAsItIs", "mkdir -m700 t", "t", nullptr, "t/", true},
    {"notUtf8TmpdirAsItIs", "mkdir -m700 \"$(printf 't\\377')\"", "t\xff", nullptr, "t\xff/", true},
    {"openTmpdirGetsUserFolder", "mkdir -m755 t", "t", nullptr, "t/U/", true},
    {"sharedTmpdirGetsUserFolder", "mkdir -m1777 t", "t", nullptr, "t/U/", true},
    {"userFolderLeftOpenIsClosed", "mkdir -m755 t t/U && chmod 777 t/U", "t", nullptr, "t/U/", true},
    {"userFolderALinkIsRefused", "mkdir -m755 t e && ln -s ../e t/U", "t", nullptr, "", false},
    {"userFolderAFileIsRefused", "mkdir -m755 t && touch t/U", "t", nullptr, "", false},
    {"userFolderOfAnotherUser", "mkdir -m755 t t/U && chown 65534 t/U", "t", nullptr, "", false},
    {"tmpdirNoFolderIsUnset", "touch t", "t", nullptr, "home/", true},
    {"noUserDirsHome", "", nullptr, nullptr, "home/", true},
    {"downloadFolder", "mkdir home/D", nullptr, kDownloads, "home/D/", true},
    {"escapesUndone", "mkdir 'home/a \"b\" $c'", nullptr,
     "XDG_DOWNLOAD_DIR=\"$HOME/a \\\"b\\\" \\$c\"\n", "home/a \"b\" $c/", true},
    {"lastLineCounts", "mkdir home/D home/x", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/x\"\nXDG_DOWNLOAD_DIR=\"$HOME/D\"\n",
     "home/D/", true},
    {"missingDownloadFolderHome", "", nullptr, kDownloads, "home/", true},
    {"unquotedHome", "mkdir home/D", nullptr, "XDG_DOWNLOAD_DIR=$HOME/D\n", "home/", true},
    {"relativeHome", "mkdir home/D", nullptr, "XDG_DOWNLOAD_DIR=\"D\"\n", "home/", true},
    {"openDownloadFolderHome", "mkdir -m777 home/D", nullptr, kDownloads, "home/", true},
    {"lessonsFolderLeftOpenIsClosed", "mkdir -m700 t t/Brindle_Lessons && chmod 777 t/Brindle_Lessons",
     "t", nullptr, "t/", true},
    {"lessonsFolderALinkIsRefused", "mkdir -m700 t e && ln -s ../e t/Brindle_Lessons", "t", nullptr,
     "t/", false},
    {"lessonsFolderOfAnotherUser", "mkdir -m700 t t/Brindle_Lessons && chown 65534 t/Brindle_Lessons",
     "t", nullptr, "t/", false},
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
    const QByteArray root = QFile::encodeName(QDir::tempPath()) + "/place-" + QByteArray::number(::getpid());
    QList<std::pair<const char *, QByteArray>> saved{
        {"TMPDIR", qgetenv("TMPDIR")}, {"HOME", qgetenv("HOME")}, {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME")}};
};

TEST_P(LessonPlace, IsPrivateOrRefused)
{
    const PlaceRow &row = GetParam();
    if (QByteArray(row.arrange).contains("chown") && ::getuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    const QByteArray user = "user-" + QByteArray::number(::getuid());
    const QString arrange = QString::fromUtf8(QByteArray(row.arrange).replace("U", user));
    const childrun::Outcome made = childrun::run(
        {"/bin/sh", {"-c", "mkdir -m700 \"$0\" && cd \"$0\" && mkdir home && " + (arrange.isEmpty() ? ":" : arrange), root}, {}});
    ASSERT_TRUE(made.exited && made.exitCode == 0) << made.output.constData();
    if (row.userDirs) {
        ASSERT_TRUE(testfiles::write(QFile::decodeName(root + "/home/.config/user-dirs.dirs"), row.userDirs));
    }
    qputenv("HOME", root + "/home");
    qunsetenv("XDG_CONFIG_HOME");
    row.tmpdir ? qputenv("TMPDIR", root + '/' + row.tmpdir) : qunsetenv("TMPDIR");

    const platform::LinuxTemporaryDirectory temporary;
    const QByteArray place = temporary.path();
    EXPECT_EQ(place, *row.expected ? root + '/' + QByteArray(row.expected).replace("U", user) : QByteArray());
    EXPECT_EQ(temporary.makePrivateFolders("Brindle_Lessons/L"), row.lessonFolder);
    for (const QByteArray &folder : {place, place + "Brindle_Lessons", place + "Brindle_Lessons/L"}) {
        struct stat st {};
        if (row.lessonFolder && (folder.contains(user) || folder.contains("Brindle"))) {
            EXPECT_TRUE(::lstat(folder.constData(), &st) == 0 && (st.st_mode & 07777) == 0700)
                << folder.constData();
        }
    }
    EXPECT_TRUE(QDir(QFile::decodeName(root + "/e")).isEmpty()) << "made through a link";
}

INSTANTIATE_TEST_SUITE_P(Rows, LessonPlace, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
