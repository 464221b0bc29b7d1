#include "NSStringReplaceAllCategory.h"

#include <gtest/gtest.h>

namespace {

struct ReplaceCase {
    const char *what;
    const char *receiver;
    const char *target;
    const char *replacement;
    const char *expected;
};

std::ostream &operator<<(std::ostream &os, const ReplaceCase &c)
{
    return os << c.what << ": \"" << c.receiver << "\" [" << c.target << " -> " << c.replacement
              << "]";
}

class ReplaceAllTable : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTable, TextAndBytesAgree)
{
    const ReplaceCase &c = GetParam();
    EXPECT_EQ(ReplaceAll::stringByReplacingOccurrencesOfString(QString::fromUtf8(c.receiver),
                                                               QString::fromUtf8(c.target),
                                                               QString::fromUtf8(c.replacement)),
              QString::fromUtf8(c.expected));
    EXPECT_EQ(ReplaceAll::stringByReplacingOccurrencesOfString(
                  QByteArray(c.receiver), QByteArray(c.target), QByteArray(c.replacement)),
              QByteArray(c.expected));
}

const ReplaceCase kReplaceCases[] = {
    {"target absent", "lesson/page.html", "\\", "/", "lesson/page.html"},
    {"empty target", "abc", "", "x", "abc"},
    {"three backslashes", "a\\b\\c\\d", "\\", "/", "a/b/c/d"},
    {"runs collapse since every pass restarts", "xaaaay", "aa", "a", "xay"},
    {"neighbours form a new target", "aab", "ab", "b", "b"},
    {"replacement holding the target: one pass", "a.b.c", ".", "..", "a..b..c"},
    {"replacement equal to the target", "a/b", "/", "/", "a/b"},
    {"whole string", "\\", "\\", "/", "/"},
    {"empty receiver", "", "a", "b", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceAllTable, ::testing::ValuesIn(kReplaceCases));

TEST(ReplaceAll, TargetAbsentGivesTheReceiverItself)
{
    const QString receiver = QString::fromUtf8("unchanged");
    const QString result = ReplaceAll::stringByReplacingOccurrencesOfString(receiver, "\\", "/");
    EXPECT_EQ(result.constData(), receiver.constData());
}

} // namespace
