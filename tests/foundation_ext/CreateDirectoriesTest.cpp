#include "NSFileManagerPathCategory.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using CreateDirectoriesWithIntermediates::createDirectoryAtPath;

namespace {

class CreateDirectories : public ::testing::Test {
protected:
    QString root() const { return tmp.path(); }
    QTemporaryDir tmp;
};

struct PathShape {
    const char *what;
    const char *suffix; // appended to the test folder
};

std::ostream &operator<<(std::ostream &os, const PathShape &s)
{
    return os << s.what << " (" << s.suffix << ")";
}

class PathShapes : public ::testing::TestWithParam<PathShape> {};

// Every spelling of the same folder must make the same tree as the clean one.
TEST_P(PathShapes, MakeTheSameFoldersAsTheCleanPath)
{
    QTemporaryDir clean, odd;
    ASSERT_TRUE(createDirectoryAtPath(clean.path() + "/a/b/c", true));
    ASSERT_TRUE(createDirectoryAtPath(odd.path() + QString::fromUtf8(GetParam().suffix), true));
    EXPECT_EQ(testfiles::snapshot(odd.path()), testfiles::snapshot(clean.path()));
    EXPECT_FALSE(testfiles::snapshot(odd.path()).isEmpty());
}

const PathShape kShapes[] = {
    {"doubled separators", "//a//b///c"},
    {"trailing separator", "/a/b/c/"},
    {"backslash separators", "\\a\\b\\c"},
    {"mixed separators", "/a\\b/c\\"},
};

INSTANTIATE_TEST_SUITE_P(Shapes, PathShapes, ::testing::ValuesIn(kShapes));

TEST_F(CreateDirectories, ExistingChainCreatesNothing)
{
    ASSERT_TRUE(QDir().mkpath(root() + "/x/y"));
    const QStringList before = testfiles::snapshot(root());
    EXPECT_TRUE(createDirectoryAtPath(root() + "/x/y", true));
    EXPECT_EQ(testfiles::snapshot(root()), before);
}

TEST_F(CreateDirectories, EmptyPathAndRootSucceedWithoutCreating)
{
    EXPECT_TRUE(createDirectoryAtPath(QString(""), true));
    EXPECT_TRUE(createDirectoryAtPath(QStringLiteral("/"), true));
}

TEST_F(CreateDirectories, MissingPathFails)
{
    EXPECT_FALSE(createDirectoryAtPath(QString(), true));
    EXPECT_FALSE(createDirectoryAtPath(QByteArray(), true));
}

TEST_F(CreateDirectories, RelativePathIsCreatedFromTheRoot)
{
    // The tmp folder path without its leading "/" still lands at the same place.
    const QString relative = (root() + "/rel/sub").mid(1);
    ASSERT_FALSE(QFileInfo::exists(root() + "/rel"));
    EXPECT_TRUE(createDirectoryAtPath(relative, true));
    EXPECT_TRUE(QFileInfo(root() + "/rel/sub").isDir());
}

TEST_F(CreateDirectories, FileInTheWayFailsAndKeepsWhatWasMade)
{
    ASSERT_TRUE(createDirectoryAtPath(root() + "/made", true)); // positive control
    ASSERT_TRUE(testfiles::write(root() + "/made/file", "x"));
    EXPECT_FALSE(createDirectoryAtPath(root() + "/made/file/below", true));
    EXPECT_TRUE(QFileInfo(root() + "/made").isDir());
    EXPECT_EQ(testfiles::read(root() + "/made/file"), QByteArray("x"));
}

TEST_F(CreateDirectories, WithoutIntermediatesIsOneLevel)
{
    EXPECT_FALSE(createDirectoryAtPath(root() + "/missing/child", false));
    EXPECT_FALSE(QFileInfo::exists(root() + "/missing"));
    EXPECT_TRUE(createDirectoryAtPath(root() + "/single", false));
    EXPECT_TRUE(QFileInfo(root() + "/single").isDir());
}

TEST_F(CreateDirectories, AttributesGiveTheFolderMode)
{
    const QVariantMap attributes{{CreateDirectoriesWithIntermediates::kPosixPermissionsKey, 0750}};
    ASSERT_TRUE(createDirectoryAtPath(root() + "/m1/m2", true, &attributes));
    EXPECT_EQ(testfiles::modeOf(root() + "/m1/m2") & 0777, 0750u);
    EXPECT_EQ(testfiles::modeOf(root() + "/m1") & 0777, 0750u);
}

TEST_F(CreateDirectories, ErrorOutParameterIsNeverWritten)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can create folders anywhere";
    const QString sentinel = QStringLiteral("untouched");
    QString error = sentinel;
    ASSERT_TRUE(::chmod(QFile::encodeName(root()).constData(), 0500) == 0);
    EXPECT_FALSE(createDirectoryAtPath(root() + "/denied/x", true, nullptr, &error));
    ::chmod(QFile::encodeName(root()).constData(), 0700);
    EXPECT_EQ(error, sentinel);
}

TEST_F(CreateDirectories, ErrorOutParameterUntouchedOnFileInTheWay)
{
    ASSERT_TRUE(testfiles::write(root() + "/f", "x"));
    QString error = QStringLiteral("untouched");
    EXPECT_FALSE(createDirectoryAtPath(root() + "/f/g", true, nullptr, &error));
    EXPECT_TRUE(createDirectoryAtPath(root() + "/ok", true, nullptr, &error));
    EXPECT_EQ(error, QStringLiteral("untouched"));
}

// ---- One level below a folder held open.

struct AtCase {
    const char *what;
    void (*plant)(const QString &root); // what is at "x" beforehand
    bool opens;
};

std::ostream &operator<<(std::ostream &os, const AtCase &c)
{
    return os << c.what;
}

class CreateAt : public ::testing::TestWithParam<AtCase> {};

// Opens the folder "x" inside the folder "root" or makes it; never anything else.
TEST_P(CreateAt, OpensOrMakesOnlyARealFolderInside)
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/root";
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_TRUE(QDir().mkpath(tmp.path() + "/elsewhere"));
    GetParam().plant(root);
    const QStringList elsewhere = testfiles::snapshot(tmp.path() + "/elsewhere");
    const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(rootFd, 0);

    const int fd = CreateDirectoriesWithIntermediates::openOrCreateDirectoryAt(rootFd, "x");
    EXPECT_EQ(fd >= 0, GetParam().opens);
    if (fd >= 0) {
        // The descriptor is the folder now at root/x.
        struct stat held{}, named{};
        ASSERT_EQ(::fstat(fd, &held), 0);
        ASSERT_EQ(::lstat(QFile::encodeName(root + "/x").constData(), &named), 0);
        EXPECT_EQ(held.st_ino, named.st_ino);
        ::close(fd);
    }
    ::close(rootFd);
    EXPECT_EQ(testfiles::snapshot(tmp.path() + "/elsewhere"), elsewhere);
}

const AtCase kAtCases[] = {
    {"nothing there: made", [](const QString &) {}, true},
    {"a folder there: opened", [](const QString &r) { QDir().mkpath(r + "/x"); }, true},
    {"a link to a folder: refused",
     [](const QString &r) { ::symlink("../elsewhere", QFile::encodeName(r + "/x").constData()); },
     false},
    {"a dangling link: refused, nothing made where it points",
     [](const QString &r) {
         ::symlink("../elsewhere/made", QFile::encodeName(r + "/x").constData());
     },
     false},
    {"a file: refused", [](const QString &r) { testfiles::write(r + "/x", "file"); }, false},
};

INSTANTIATE_TEST_SUITE_P(Rows, CreateAt, ::testing::ValuesIn(kAtCases));

} // namespace
