// The open-files and process-status tools' output, as captured from real runs
// and in the damaged forms a pipe can deliver, read into identifiers and names.
#include "GMUExtensions.h"

#include <gtest/gtest.h>

#include <ostream>

namespace
{

struct LsofCase {
    const char *what;
    QByteArray output;
    QList<int> expected;
};

std::ostream &operator<<(std::ostream &os, const LsofCase &c)
{
    return os << c.what << " [" << c.output.toPercentEncoding().constData() << "]";
}

class LsofOutput : public ::testing::TestWithParam<LsofCase>
{
};

TEST_P(LsofOutput, GivesTheProcessIdentifiersInOrder)
{
    EXPECT_EQ(GMUExtensions::parseOpenFileProcessIDs(GetParam().output), GetParam().expected);
}

const LsofCase kLsofCases[] = {
    {"two processes", "p412\np977\n", {412, 977}},
    {"one process", "p4242\n", {4242}},
    {"order kept, not sorted", "p977\np412\n", {977, 412}},
    {"duplicates kept", "p412\np412\n", {412, 412}},
    {"no trailing newline", "p412\np977", {412, 977}},
    {"empty output", "", {}},
    {"only newlines", "\n\n", {}},
    {"a letter without digits", "p\np977\n", {977}},
    {"garbage around digits", "xyz p12abc p 34\n", {12, 34}},
    {"leading spaces after p", "p  55\n", {55}},
    {"zero skipped", "p0\np7\n", {7}},
    {"negative skipped", "p-1\np7\n", {7}},
    {"huge number clamps and is kept", "p99999999999\n", {2147483647}},
    {"non-ASCII byte spoils everything", "p412\np977\n\xc3\xa9", {}},
    {"non-ASCII in the middle",
     "p41\xff"
     "2\n",
     {}},
};

INSTANTIATE_TEST_SUITE_P(Table, LsofOutput, ::testing::ValuesIn(kLsofCases));

struct PsCase {
    const char *what;
    QByteArray output;
    std::optional<QString> expected;
};

std::ostream &operator<<(std::ostream &os, const PsCase &c)
{
    return os << c.what << " [" << c.output.toPercentEncoding().constData() << "]";
}

class PsOutput : public ::testing::TestWithParam<PsCase>
{
};

TEST_P(PsOutput, GivesTheTrimmedName)
{
    EXPECT_EQ(GMUExtensions::parseProcessName(GetParam().output), GetParam().expected);
}

const PsCase kPsCases[] = {
    {"plain name", "sleep\n", QStringLiteral("sleep")},
    {"leading spaces and newline", "   Finder\n", QStringLiteral("Finder")},
    {"leading newlines and tabs", "\n\t bash \r\n", QStringLiteral("bash")},
    {"inner space kept", "Glimmer Helper\n", QStringLiteral("Glimmer Helper")},
    {"empty output", "", QString()},
    {"only white space", " \n", QString()},
    {"non-ASCII", "caf\xc3\xa9\n", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Table, PsOutput, ::testing::ValuesIn(kPsCases));

struct StatCase {
    const char *what;
    QByteArray text;
    std::optional<quint64> expected;
};

std::ostream &operator<<(std::ostream &os, const StatCase &c)
{
    return os << c.what << " [" << c.text.constData() << "]";
}

class StatText : public ::testing::TestWithParam<StatCase>
{
};

TEST_P(StatText, GivesTheStartTime)
{
    EXPECT_EQ(GMUExtensions::parseStartTime(GetParam().text), GetParam().expected);
}

const StatCase kStatCases[] = {
    {"plain", "412 (sleep) S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 123456 8 9 10\n",
     123456},
    {"name with spaces and parentheses",
     "412 (a) b (c) S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 777 8 9\n", 777},
    {"too few fields", "412 (sleep) S 1 412\n", std::nullopt},
    {"no name", "412 sleep S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\n", std::nullopt},
    {"start time not a number",
     "412 (x) S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 abc 8\n", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Table, StatText, ::testing::ValuesIn(kStatCases));

} // namespace
