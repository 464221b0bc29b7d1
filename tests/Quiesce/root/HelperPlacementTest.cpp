// Which root helper Quiesce hands to pkexec: the installed one only when root alone
// can have changed it, the bundle's only when none is installed.
#include "RootHelperRunner.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

#include <unistd.h>

namespace
{

enum class Install {
    RootOwned,
    GroupWritableFolderAbove,
    NotRootOwned,
    NotRootOwnedFolderAbove,
    Missing
};

struct PlacementCase {
    const char *what;
    Install install;
    enum { Installed, Bundled, None } chosen;
};

std::ostream &operator<<(std::ostream &os, const PlacementCase &c)
{
    return os << c.what;
}

class HelperPlacement : public ::testing::TestWithParam<PlacementCase>
{
};

TEST_P(HelperPlacement, TrustsOnlyARootOnlyInstallation)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "root-owned test installations need root";
    // Inside the build tree, whose folders up to "/" must themselves be root's alone.
    QTemporaryDir base(QStringLiteral(QUIESCE_TEST_BINARY_DIR "/placement-XXXXXX"));
    ASSERT_TRUE(base.isValid());
    if (!RootHelperRunner::isSafeSystemFile(
            QStringLiteral(QUIESCE_TEST_BINARY_DIR "/quiesce_root_tests")))
        GTEST_SKIP() << "the build tree lies in a folder others can write";
    const QString libexec = base.filePath("libexec");
    const QString installed = libexec + "/quiesce/quiesce-root-helper";
    const QString bundled = base.filePath("Quiesce.app/Contents/MacOS/quiesce-root-helper");
    ASSERT_TRUE(testfiles::writeExecutable(bundled, "#!/bin/sh\n"));
    if (GetParam().install != Install::Missing) {
        ASSERT_TRUE(testfiles::writeExecutable(installed, "#!/bin/sh\n"));
        ASSERT_EQ(::chmod(QFile::encodeName(installed).constData(), 0755), 0);
    }
    switch (GetParam().install) {
    case Install::GroupWritableFolderAbove:
        ASSERT_EQ(::chmod(QFile::encodeName(libexec).constData(), 0775), 0);
        break;
    case Install::NotRootOwned:
        ASSERT_EQ(::chown(QFile::encodeName(installed).constData(), 65534, 65534), 0);
        break;
    case Install::NotRootOwnedFolderAbove:
        ASSERT_EQ(::chown(QFile::encodeName(libexec).constData(), 65534, 65534), 0);
        break;
    default:
        break;
    }
    const std::optional<QString> chosen = RootHelperRunner::helperToRun(installed, bundled);
    switch (GetParam().chosen) {
    case PlacementCase::Installed:
        EXPECT_EQ(chosen, installed);
        break;
    case PlacementCase::Bundled:
        EXPECT_EQ(chosen, bundled);
        break;
    case PlacementCase::None:
        EXPECT_EQ(chosen, std::nullopt);
        break;
    }
}

const PlacementCase kPlacements[] = {
    {"installed, root's alone", Install::RootOwned, PlacementCase::Installed},
    {"a group-writable folder above", Install::GroupWritableFolderAbove, PlacementCase::None},
    {"the helper owned by another user", Install::NotRootOwned, PlacementCase::None},
    {"a folder above owned by another user", Install::NotRootOwnedFolderAbove, PlacementCase::None},
    {"none installed", Install::Missing, PlacementCase::Bundled},
};

INSTANTIATE_TEST_SUITE_P(Table, HelperPlacement, ::testing::ValuesIn(kPlacements));

} // namespace
