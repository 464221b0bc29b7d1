#include "NSFileManagerPathCategory.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    EXPECT_EQ(testfiles::tree(odd.path()), testfiles::tree(clean.path()));
    EXPECT_FALSE(testfiles::tree(odd.path()).isEmpty());
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
    const QStringList before = testfiles::tree(root());
    EXPECT_TRUE(createDirectoryAtPath(root() + "/x/y", true));
    EXPECT_EQ(testfiles::tree(root()), before);
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

} // namespace
