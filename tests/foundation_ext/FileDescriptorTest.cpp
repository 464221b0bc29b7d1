// The descriptor holder: what it closes, and when.
#include "foundation_ext/FileDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <ostream>

namespace
{

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

// What is done with a holder of descriptor `first` while `second` stands by, and
// which of the two are still open once the holder is gone.
struct HolderRow {
    const char *name;
    void (*use)(FileDescriptor &holder, int second);
    bool firstOpen, secondOpen;
};

void PrintTo(const HolderRow &row, std::ostream *out)
{
    *out << row.name;
}

using HolderRows = ::testing::TestWithParam<HolderRow>;

TEST_P(HolderRows, ClosesWhatItHoldsWhenItGoes)
{
    const HolderRow &row = GetParam();
    const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int second = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(isOpen(first) && isOpen(second));
    {
        FileDescriptor holder(first);
        row.use(holder, second);
    }
    EXPECT_EQ(isOpen(first), row.firstOpen);
    EXPECT_EQ(isOpen(second), row.secondOpen);
    for (const int fd : {first, second})
        if (isOpen(fd))
            ::close(fd);
}

const HolderRow kHolderRows[] = {
    {"dropped", [](FileDescriptor &, int) {}, false, true},
    {"released", [](FileDescriptor &holder, int) { holder.release(); }, true, true},
    {"moved_to_another_holder",
     [](FileDescriptor &holder, int) { const FileDescriptor taker(std::move(holder)); }, false,
     true},
    {"given_another_descriptor",
     [](FileDescriptor &holder, int second) { holder = FileDescriptor(second); }, false, false},
};

INSTANTIATE_TEST_SUITE_P(Rows, HolderRows, ::testing::ValuesIn(kHolderRows),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
