// Replace-all, on text and on file-system bytes alike.
#include "foundation_ext/NSStringReplaceAllCategory.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"

#include <gtest/gtest.h>

namespace
{

struct ReplaceRow {
    const char *name, *receiver, *target, *replacement, *expected;
};

void PrintTo(const ReplaceRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("receiver", row.receiver)("target", row.target)("replacement",
                                                                               row.replacement);
}

using ReplaceAllRows = ::testing::TestWithParam<ReplaceRow>;

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

INSTANTIATE_TEST_SUITE_P(Rows, ReplaceAllRows, ::testing::ValuesIn(kReplacements), rows::byName);

} // namespace
