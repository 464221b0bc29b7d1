// How entry names are taken apart before anything touches the file system.
#include "ArchiveEntryName.h"

#include <gtest/gtest.h>

namespace
{

struct NameCase {
    const char *what;
    QByteArray raw;
    QList<QByteArray> components;
    bool isFolder;
    bool leadsOutside;
};

std::ostream &operator<<(std::ostream &os, const NameCase &c)
{
    return os << c.what << " (" << c.raw.toStdString() << ")";
}

class EntryNames : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(EntryNames, SplitAsExpected)
{
    const ArchiveEntryName name = ArchiveEntryName::parse(GetParam().raw);
    EXPECT_EQ(name.components, GetParam().components);
    EXPECT_EQ(name.isFolder, GetParam().isFolder);
    EXPECT_EQ(name.leadsOutside, GetParam().leadsOutside);
}

const NameCase kNames[] = {
    {"plain file", "readme.txt", {"readme.txt"}, false, false},
    {"nested file", "a/b/c.txt", {"a", "b", "c.txt"}, false, false},
    {"folder entry", "a/b/", {"a", "b"}, true, false},
    {"backslash folder entry", "a\\b\\", {"a", "b"}, true, false},
    {"backslash separators", "a\\b\\c.txt", {"a", "b", "c.txt"}, false, false},
    {"absolute name", "/etc/passwd", {"etc", "passwd"}, false, false},
    {"doubled separators", "a//b", {"a", "b"}, false, false},
    {"dot components", "./a/./b", {"a", "b"}, false, false},
    {"empty name is the destination", "", {}, true, false},
    {"lone slash is the destination", "/", {}, true, false},
    {"lone dot is the destination", ".", {}, true, false},
    {"parent component", "a/../b", {"a", "..", "b"}, false, true},
    {"parent through backslashes", "..\\x", {"..", "x"}, false, true},
    {"dots that are names", "...a/..b/c..", {"...a", "..b", "c.."}, false, false},
};

INSTANTIATE_TEST_SUITE_P(Names, EntryNames, ::testing::ValuesIn(kNames));

} // namespace
