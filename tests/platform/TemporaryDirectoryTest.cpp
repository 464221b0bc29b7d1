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

    const QString got = LinuxTemporaryDirectory::privateFolderBelow(root.path());
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

TEST_F(TemporaryDirectoryPath, ClosedTmpdirIsUsedAsItIs)
{
    QTemporaryDir tmp; // QTemporaryDir makes 0700 folders
    qputenv("TMPDIR", bytes(tmp.path()));
    EXPECT_EQ(LinuxTemporaryDirectory().path(), tmp.path() + "/");
    EXPECT_FALSE(QFileInfo::exists(userFolderBelow(tmp.path())));
}

TEST_F(TemporaryDirectoryPath, SharedTmpdirGivesAPrivateFolderBelowIt)
{
    QTemporaryDir tmp;
    ASSERT_EQ(::chmod(bytes(tmp.path()).constData(), 01777), 0);
    qputenv("TMPDIR", bytes(tmp.path()));
    EXPECT_EQ(LinuxTemporaryDirectory().path(), userFolderBelow(tmp.path()) + "/");
    EXPECT_EQ(testfiles::modeOf(userFolderBelow(tmp.path())) & 0777, 0700u);
}

TEST_F(TemporaryDirectoryPath, WithoutTmpdirNeverTheSharedTmpItself)
{
    qunsetenv("TMPDIR");
    const QString got = LinuxTemporaryDirectory().path();
    EXPECT_EQ(got, userFolderBelow(QStringLiteral("/tmp")) + "/");
}

} // namespace
