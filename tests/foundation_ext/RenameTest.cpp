// Renaming without replacing, where the file system knows rename flags and, through
// the fault shim that ctest preloads, where it does not.
#include "foundation_ext/RenameWithoutReplacing.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <ostream>

namespace
{

struct RenameRow {
    const char *name;
    bool flagsKnown;
    const char *atTarget; // "file", "link" (dangling) or nullptr for nothing
};

void PrintTo(const RenameRow &row, std::ostream *out)
{
    *out << row.name;
}

class RenameRows : public ::testing::TestWithParam<RenameRow>
{
  protected:
    void TearDown() override { qunsetenv("FAULT_NO_RENAME_FLAGS"); }
    QByteArray path(const char *name) const { return QFile::encodeName(box.filePath(name)); }
    QTemporaryDir box;
};

TEST_P(RenameRows, MovesOnlyOntoNothing)
{
    const RenameRow &row = GetParam();
    ASSERT_TRUE(testfiles::write(box.filePath("from"), "moved"));
    const QByteArray from = path("from"), to = path("to");
    const bool fileThere = row.atTarget && QByteArray(row.atTarget) == "file";
    ASSERT_TRUE(!row.atTarget || (fileThere ? testfiles::write(box.filePath("to"), "kept")
                                            : QFile::link("nowhere", box.filePath("to"))));
    if (!row.flagsKnown) {
        qputenv("FAULT_NO_RENAME_FLAGS", "1");
        // The shim is in place: the flags are refused before the missing source is noticed.
        ASSERT_EQ(::renameat2(AT_FDCWD, path("missing").constData(), AT_FDCWD, to.constData(),
                              RENAME_NOREPLACE),
                  -1);
        ASSERT_EQ(errno, EINVAL) << "run under the fault shim, as ctest does";
    }
    const int status = renameWithoutReplacing(from.constData(), to.constData());
    const int error = errno;
    if (!row.atTarget) {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(testfiles::read(box.filePath("to")), "moved");
        EXPECT_FALSE(QFile::exists(box.filePath("from")));
        return;
    }
    EXPECT_EQ(status, -1);
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(testfiles::read(box.filePath("from")), "moved");
    if (fileThere)
        EXPECT_EQ(testfiles::read(box.filePath("to")), "kept");
    else
        EXPECT_EQ(QFile::symLinkTarget(box.filePath("to")), box.filePath("nowhere"));
}

const RenameRow kRenameRows[] = {
    {"flags_known_nothing_there", true, nullptr},
    {"flags_known_a_file_there", true, "file"},
    {"flags_known_a_dangling_link_there", true, "link"},
    {"flags_unknown_nothing_there", false, nullptr},
    {"flags_unknown_a_file_there", false, "file"},
    {"flags_unknown_a_dangling_link_there", false, "link"},
};

INSTANTIATE_TEST_SUITE_P(Rows, RenameRows, ::testing::ValuesIn(kRenameRows), rows::byName);

} // namespace
