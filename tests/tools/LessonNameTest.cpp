// Which lesson names the packer takes, including those no command line can carry.
#include "LessonName.h"

#include <QFile>

#include <gtest/gtest.h>

using lessonpack::lessonNameProblem;

namespace
{

struct NameCase {
    const char *name;
    QString lessonName;
    const char *problem; // part of the reason; empty when the name is fine
};

std::ostream &operator<<(std::ostream &os, const NameCase &c)
{
    return os << c.name << " (" << c.lessonName.size() << " characters)";
}

const NameCase kNames[] = {
    {"plain", "Rivers", ""},
    {"blanks_and_percent", "How Rivers Work 100% %@", ""},
    {"accents", QString::fromUtf8("Río y Lagos"), ""},
    {"leading_dot", ".hidden lesson", ""},
    {"longest_ascii", QString(251, 'a'), ""},
    // 125 two-byte characters are 250 bytes, 254 with ".app"; one more is too many.
    {"longest_two_byte", QString(125, QChar(0x00e9)), ""},
    {"two_byte_one_too_many", QString(126, QChar(0x00e9)), "too long (256 bytes"},
    {"ascii_one_too_many", QString(252, 'a'), "too long (256 bytes"},
    {"empty", "", "empty"},
    {"dot", ".", "not a folder name"},
    {"dot_dot", "..", "not a folder name"},
    {"slash", "a/b", "contains \"/\""},
    {"only_slash", "/", "contains \"/\""},
    {"nul", QString("ab") + QChar(0) + "c", "NUL"},
    {"line_break", "a\nb", "control character"},
    {"tab", "a\tb", "control character"},
    {"delete", QString("a") + QChar(0x7f), "control character"},
};

class PackerLessonName : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(PackerLessonName, IsJudgedAsAFolderName)
{
    const QString problem = lessonNameProblem(GetParam().lessonName);
    if (*GetParam().problem == '\0')
        EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
    else
        EXPECT_TRUE(problem.contains(QString::fromUtf8(GetParam().problem)))
            << problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, PackerLessonName, ::testing::ValuesIn(kNames),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
