// Replace-all and folder creation with intermediates, as tables of their rules.
#include "NSFileManagerPathCategory.h"
#include "NSStringReplaceAllCategory.h"
#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

template <class Row> std::string rowName(const ::testing::TestParamInfo<Row> &info)
{
    return info.param.name;
}

struct ReplaceRow {
    const char *name, *receiver, *target, *replacement, *expected;
};

class ReplaceAllRows : public ::testing::TestWithParam<ReplaceRow>
{
};

TEST_P(ReplaceAllRows, TextAndBytesAgree)
{
    const ReplaceRow &r = GetParam();
    EXPECT_EQ(ReplaceAll::stringByReplacingOccurrencesOfString(QString::fromUtf8(r.receiver),
                                                               QString::fromUtf8(r.target),
                                                               QString::fromUtf8(r.replacement)),
              QString::fromUtf8(r.expected));
    EXPECT_EQ(ReplaceAll::stringByReplacingOccurrencesOfString(
                  QByteArray(r.receiver), QByteArray(r.target), QByteArray(r.replacement)),
              QByteArray(r.expected));
}

const ReplaceRow kReplacements[] = {
    {"target_absent", "lesson/page.html", "\\", "/", "lesson/page.html"},
    {"empty_target", "abc", "", "x", "abc"},
    {"every_backslash", "a\\b\\c\\d", "\\", "/", "a/b/c/d"},
    {"runs_collapse_since_every_pass_restarts", "xaaaay", "aa", "a", "xay"},
    {"neighbours_form_a_new_target", "aab", "ab", "b", "b"},
    // A replacement holding its target would be found again without end.
    {"replacement_holding_a_one_character_target", "a.b.c", ".", "..", "a..b..c"},
    {"replacement_holding_a_longer_target", "ab-ab", "ab", "xaby", "xaby-xaby"},
    {"replacement_equal_to_the_target", "a//b", "//", "//", "a//b"},
};

INSTANTIATE_TEST_SUITE_P(Rows, ReplaceAllRows, ::testing::ValuesIn(kReplacements),
                         rowName<ReplaceRow>);

// Each row starts from a folder holding the file f.
struct FolderRow {
    const char *name, *path;
    bool intermediates, made;
    QStringList after;
};

class CreateDirectories : public ::testing::TestWithParam<FolderRow>
{
};

TEST_P(CreateDirectories, MakeWhatTheRuleSays)
{
    const FolderRow &row = GetParam();
    QTemporaryDir root;
    ASSERT_TRUE(testfiles::write(root.path() + "/f", "x"));
    EXPECT_EQ(CreateDirectoriesWithIntermediates::createDirectoryAtPath(
                  root.path() + QString::fromUtf8(row.path), row.intermediates),
              row.made);
    EXPECT_EQ(testfiles::describeTree(root.path(), [](const QString &) { return QString(""); }),
              row.after);
}

const QStringList kAbc{"a", "a/b", "a/b/c", "f"};
const FolderRow kFolders[] = {
    {"doubled_separators", "//a//b///c", true, true, kAbc},
    {"backslashes_and_a_trailing_separator", "\\a\\b/c\\", true, true, kAbc},
    {"a_file_in_the_way", "/f/g", true, false, {"f"}},
    {"one_level_without_intermediates", "/a", false, true, {"a", "f"}},
    {"no_missing_parent_without_intermediates", "/a/b", false, false, {"f"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, CreateDirectories, ::testing::ValuesIn(kFolders),
                         rowName<FolderRow>);

} // namespace
