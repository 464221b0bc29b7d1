// The opener as the programs use it, with a stand-in for the desktop's opener.
#include "LinuxOpenService.h"
#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace
{

// A stand-in opener that records its argument and the descriptors it was given,
// then answers with `status`.
QString writeOpener(const QString &folder, int status)
{
    const QString path = folder + "/opener";
    testfiles::writeExecutable(path, QStringLiteral("#!/bin/sh\n"
                                                    "echo \"$1\" > \"$0.arg\"\n"
                                                    "ls /proc/$$/fd > \"$0.fds\"\n"
                                                    "exit %1\n")
                                         .arg(status)
                                         .toUtf8());
    return path;
}

struct OpenerCase {
    const char *what;
    int openerStatus;
    bool fileExists;
    bool expected;
};

std::ostream &operator<<(std::ostream &os, const OpenerCase &c)
{
    return os << c.what;
}

class OpenFile : public ::testing::TestWithParam<OpenerCase>
{
};

TEST_P(OpenFile, AnswersYesOnlyWhenTheOpenerStartedSomething)
{
    QTemporaryDir tmp;
    const QString opener = writeOpener(tmp.path(), GetParam().openerStatus);
    const QString page = tmp.path() + "/index.html";
    if (GetParam().fileExists) {
        ASSERT_TRUE(testfiles::write(page, "<html></html>"));
    }

    platform::LinuxOpenService service(opener);
    EXPECT_EQ(service.openFile(page), GetParam().expected);
    if (GetParam().fileExists) {
        EXPECT_EQ(testfiles::read(opener + ".arg"), (page + "\n").toUtf8());
    } else {
        EXPECT_FALSE(QFile::exists(opener + ".arg")); // never asked about a missing file
    }
}

const OpenerCase kOpenerCases[] = {
    {"opened", 0, true, true},
    {"no handler for the file", 3, true, false},
    {"opener failed", 1, true, false},
    {"missing file", 0, false, false},
};

INSTANTIATE_TEST_SUITE_P(Table, OpenFile, ::testing::ValuesIn(kOpenerCases));

TEST(OpenService, StartedProgramsInheritNoOpenFiles)
{
    QTemporaryDir tmp;
    const QString opener = writeOpener(tmp.path(), 0);
    const QString page = tmp.path() + "/index.html";
    ASSERT_TRUE(testfiles::write(page, "x"));
    // Opened without close-on-exec, as a C library's fopen does.
    const int held = ::open(QFile::encodeName(page).constData(), O_RDONLY);
    ASSERT_GT(held, 2);

    ASSERT_TRUE(platform::LinuxOpenService(opener).openFile(page));
    ::close(held);
    const QList<QByteArray> fds = testfiles::read(opener + ".fds").split('\n');
    EXPECT_TRUE(fds.contains("0") && fds.contains("1") && fds.contains("2")); // control
    EXPECT_FALSE(fds.contains(QByteArray::number(held)));
}

} // namespace
