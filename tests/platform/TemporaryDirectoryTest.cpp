// The temporary folder that Unspool unpacks into, and later runs programs from.
#include "LinuxTemporaryDirectory.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

using platform::LinuxTemporaryDirectory;

QByteArray bytes(const QString &path)
{
    return QFile::encodeName(path);
}

QString userFolderBelow(const QString &root)
{
    return root + QStringLiteral("/user-%1").arg(::getuid());
}

QString text(const QByteArray &path)
{
    return QFile::decodeName(path);
}

// What stands at root/user-<uid> before the call, and whether it may be used.
struct Planted {
    const char *what;
    void (*plant)(const QString &folder, const QString &elsewhere);
    bool usable;
    mode_t modeAfter; // 0: not checked
};

std::ostream &operator<<(std::ostream &os, const Planted &p)
{
    return os << p.what;
}

const Planted kPlanted[] = {
    {"nothing: created closed", [](const QString &, const QString &) {}, true, 0700},
    {"our closed folder",
     [](const QString &f, const QString &) { ::mkdir(bytes(f).constData(), 0700); }, true, 0700},
    {"our folder left open: closed again",
     [](const QString &f, const QString &) {
         ::mkdir(bytes(f).constData(), 0700);
         ::chmod(bytes(f).constData(), 0777);
     },
     true, 0700},
    {"a link to a folder elsewhere",
     [](const QString &f, const QString &elsewhere) {
         ::symlink(bytes(elsewhere).constData(), bytes(f).constData());
     },
     false, 0},
    {"a file", [](const QString &f, const QString &) { testfiles::write(f, "x"); }, false, 0},
    {"another user's folder",
     [](const QString &f, const QString &) {
         ::mkdir(bytes(f).constData(), 0700);
         if (::chown(bytes(f).constData(), 65534, 65534) != 0)
             ::rmdir(bytes(f).constData()); // not root: leaves the case untestable
     },
     false, 0},
};

class PrivateFolder : public ::testing::TestWithParam<Planted>
{
};

TEST_P(PrivateFolder, IsUsedOnlyWhenItIsOursAndClosed)
{
    QTemporaryDir root, elsewhere;
    const QString folder = userFolderBelow(root.path());
    GetParam().plant(folder, elsewhere.path());
    if (std::string(GetParam().what) == "another user's folder" && !QFileInfo::exists(folder))
        GTEST_SKIP() << "only root can give a folder to another user";

    const QString got = text(LinuxTemporaryDirectory::privateFolderBelow(bytes(root.path())));
    if (!GetParam().usable) {
        EXPECT_TRUE(got.isEmpty()) << qPrintable(got);
        EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
        return;
    }
    EXPECT_EQ(got, folder + "/");
    EXPECT_EQ(testfiles::modeOf(folder) & 07777, GetParam().modeAfter);
    EXPECT_TRUE(S_ISDIR(testfiles::modeOf(folder)));
}

INSTANTIATE_TEST_SUITE_P(Table, PrivateFolder, ::testing::ValuesIn(kPlanted));

class TemporaryDirectoryPath : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        wasSet = qEnvironmentVariableIsSet("TMPDIR");
        saved = qgetenv("TMPDIR");
    }
    void TearDown() override
    {
        // Unset stays unset: an empty TMPDIR would reach every later test.
        if (wasSet)
            qputenv("TMPDIR", saved);
        else
            qunsetenv("TMPDIR");
    }
    bool wasSet = false;
    QByteArray saved;
};

// Which TMPDIR is used as it is, and which gets a private folder below it, is
// checked on real runs of the bundle (tests/Unspool/BundleRunTest.cpp).

// user-dirs.dirs in a home folder, and the download folder it gives.
struct UserDirsCase {
    const char *what;
    const char *file;     // user-dirs.dirs; nullptr: no such file
    const char *made;     // folder made below the home beforehand; nullptr: none
    const char *expected; // below the home; "" is the home itself
};

std::ostream &operator<<(std::ostream &os, const UserDirsCase &c)
{
    return os << c.what;
}

const UserDirsCase kUserDirs[] = {
    {"no file: the home", nullptr, nullptr, ""},
    {"below $HOME", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n",
     "Fetched", "/Fetched"},
    {"escaped characters", "XDG_DOWNLOAD_DIR=\"$HOME/a \\\"b\\\" \\$c\"\n", "a \"b\" $c",
     "/a \"b\" $c"},
    {"the last line counts", "XDG_DOWNLOAD_DIR=\"$HOME/x\"\nXDG_DOWNLOAD_DIR=\"$HOME/y\"\n", "y",
     "/y"},
    {"a folder that is missing: the home", "XDG_DOWNLOAD_DIR=\"$HOME/Gone\"\n", nullptr, ""},
    {"unquoted: the home", "XDG_DOWNLOAD_DIR=$HOME/Fetched\n", "Fetched", ""},
    {"relative: the home", "XDG_DOWNLOAD_DIR=\"Fetched\"\n", "Fetched", ""},
};

class DownloadFolder : public ::testing::TestWithParam<UserDirsCase>
{
};

TEST_P(DownloadFolder, ComesFromUserDirs)
{
    QTemporaryDir home;
    if (GetParam().file) {
        ASSERT_TRUE(testfiles::write(home.filePath(".config/user-dirs.dirs"), GetParam().file));
    }
    if (GetParam().made) {
        ASSERT_TRUE(QDir(home.path()).mkpath(QString::fromUtf8(GetParam().made)));
    }
    EXPECT_EQ(text(LinuxTemporaryDirectory::downloadFolder(bytes(home.path()), {})),
              home.path() + QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, DownloadFolder, ::testing::ValuesIn(kUserDirs));

TEST(DownloadFolderShared, OneOthersMayWriteToIsNotUsed)
{
    QTemporaryDir home;
    ASSERT_TRUE(testfiles::write(home.filePath(".config/user-dirs.dirs"),
                                 "XDG_DOWNLOAD_DIR=\"$HOME/Drop\"\n"));
    ASSERT_TRUE(QDir(home.path()).mkdir("Drop"));
    ASSERT_EQ(text(LinuxTemporaryDirectory::downloadFolder(bytes(home.path()), {})),
              home.filePath("Drop")); // positive control
    ASSERT_EQ(::chmod(bytes(home.filePath("Drop")).constData(), 0777), 0);
    EXPECT_EQ(text(LinuxTemporaryDirectory::downloadFolder(bytes(home.path()), {})), home.path());
}

// Brindle_Lessons and the lesson folder below a private TMPDIR.
TEST_F(TemporaryDirectoryPath, LessonFoldersAreMadePrivateAndCheckedEveryTime)
{
    QTemporaryDir tmp;
    qputenv("TMPDIR", bytes(tmp.path()));
    const LinuxTemporaryDirectory temporary;
    ASSERT_TRUE(temporary.makePrivateFolders("Brindle_Lessons/Rivers"));
    EXPECT_EQ(testfiles::modeOf(tmp.filePath("Brindle_Lessons")) & 07777, 0700u);
    EXPECT_EQ(testfiles::modeOf(tmp.filePath("Brindle_Lessons/Rivers")) & 07777, 0700u);

    // Left open since: closed again.
    ASSERT_EQ(::chmod(bytes(tmp.filePath("Brindle_Lessons")).constData(), 0755), 0);
    ASSERT_TRUE(temporary.makePrivateFolders("Brindle_Lessons/Rivers"));
    EXPECT_EQ(testfiles::modeOf(tmp.filePath("Brindle_Lessons")) & 07777, 0700u);

    // A link in its place: refused, and nothing is made where it points.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir(tmp.filePath("Brindle_Lessons")).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere.path(), tmp.filePath("Brindle_Lessons")));
    EXPECT_FALSE(temporary.makePrivateFolders("Brindle_Lessons/Rivers"));
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

} // namespace
