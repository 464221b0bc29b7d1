// The rules no run of the program can reach one by one: where the name cell puts
// its text, how the tools' output and /proc texts are read, what processes are called.
#include "Quiesce/GMUVerticallyAlignedTextFieldCell.h"
#include "Quiesce/core/GMUExtensions.h"
#include "platform/ProcessRunner.h"
#include "platform/ProcessTools.h"
#include "platform/linux/DesktopApplications.h"
#include "platform/linux/ProcessStat.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace
{

// 0, 3 and -1 keep the frame; 1 centres one line (rounded); 2 goes one line down. A row of
// height 32 at 64, or of 20 at 10; the box expected as y and height.
struct BoxRow {
    float lineHeight;
    int alignment;
    bool shortRow;
    qreal y, height;
};

TEST(TextBox, PlacesTheBoxByTheRule)
{
    for (const BoxRow &c : {BoxRow{16, 0, false, 64, 32}, BoxRow{16, 1, false, 72, 16},
                            BoxRow{14.5, 1, false, 71, 14.5}, BoxRow{16, 1, true, 18, 16},
                            BoxRow{14.5, 2, false, 78.5, 14.5}, BoxRow{16, 2, true, 26, 16},
                            BoxRow{16, 3, false, 64, 32}, BoxRow{16, -1, false, 64, 32}}) {
        const QRectF frame = c.shortRow ? QRectF(4, 10, 200, 20) : QRectF(4, 64, 200, 32);
        EXPECT_EQ(GMUVerticallyAlignedTextFieldCell::textBox(frame, c.alignment, c.lineHeight),
                  QRectF(4, c.y, 200, c.height))
            << c.alignment << " " << c.lineHeight;
    }
}

// What the readers make of the tools' output and of /proc texts.
TEST(Parsing, ReadsWhatTheSystemWrites)
{
    EXPECT_EQ(GMUExtensions::parseOpenFileProcessIDs("p\nxyz p12abc p  34\n"),
              QList<int>({12, 34}));
    EXPECT_EQ(GMUExtensions::parseOpenFileProcessIDs("p0\np-1\np7\n"), QList<int>{7});
    EXPECT_EQ(GMUExtensions::parseProcessName("\n\t Glimmer Helper \r\n"), "Glimmer Helper");
    const QByteArray slice = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    using platform::desktop::scopeDesktopId;
    EXPECT_EQ(scopeDesktopId(slice + "app-gnome-org.gnome.TextEditor-1234.scope\n"),
              "org.gnome.TextEditor");
    EXPECT_EQ(scopeDesktopId(slice + "app-gnome-firefox\\x2desr-2.scope\n"), "firefox-esr");
    EXPECT_EQ(scopeDesktopId("0::/user.slice/user-1000.slice/session-2.scope\n"), "");
}

// Status lines as the kernel writes them; the name is whatever the process chose.
struct StatRow {
    const char *name;
    const char *line;
    bool read;
    const char *processName = "";
    char state = 0;
    int parent = 0;
    unsigned long long startTime = 0;
};

const char kFields[] = " S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 123456 8 9\n";

const StatRow kStatRows[] = {
    {"plainName", "412 (sleep) S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 123456 8 9\n",
     true, "sleep", 'S', 1, 123456},
    {"nameCutAfterABlank",
     "20792 (Glimmer Helper ) S 1 20784 14377 0 -1 4194304 132 0 0 0 0 0 0 0 "
     "20 0 1 0 80275 2990080 418 18446744073709551615 94645681000448 0\n",
     true, "Glimmer Helper ", 'S', 1, 80275},
    {"parenthesesInTheName", "413 (a) S (c))", true, "a) S (c)", 'S', 1, 123456},
    {"nameThatForgesFields", "414 (x) Z 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 777 9)", true,
     "x) Z 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 777 9", 'S', 1, 123456},
    {"emptyName", "415 ()", true, "", 'S', 1, 123456},
    {"zombie", "416 (defunct) Z 2 416 416 0 -1 4227084 0 0 0 0 0 0 0 0 20 0 1 0 99 0 0\n", true,
     "defunct", 'Z', 2, 99},
    {"tooFewFields", "412 (sleep) S 1 412\n", false},
    {"noParentheses", "412 sleep S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 1 8 9\n",
     false},
    {"noProcessNumber", "(sleep) S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 1 8 9\n",
     false},
    {"startTimeBeyond64Bits",
     "412 (sleep) S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 18446744073709551616 8 9\n",
     false},
    {"signedParent", "412 (sleep) S -1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 1 8 9\n",
     false},
};

void PrintTo(const StatRow &row, std::ostream *out)
{
    *out << row.name << ": " << row.line;
}

using StatLines = ::testing::TestWithParam<StatRow>;

TEST_P(StatLines, GiveNameStateParentAndStartTime)
{
    const StatRow &row = GetParam();
    std::string line = row.line;
    if (line.back() == ')') // the usual fields follow the name
        line += kFields;
    const auto stat = platform::procfs::parseProcessStat(line);
    ASSERT_EQ(stat.has_value(), row.read);
    if (!stat)
        return;
    EXPECT_EQ(stat->pid, std::stoi(line));
    EXPECT_EQ(stat->name, row.processName);
    EXPECT_EQ(stat->state, row.state);
    EXPECT_EQ(stat->parent, row.parent);
    EXPECT_EQ(stat->startTime, row.startTime);
}

INSTANTIATE_TEST_SUITE_P(Table, StatLines, ::testing::ValuesIn(kStatRows), rows::byName);

// A copy of sleep under a name of the row's; what ps prints of it (trimmed), and the name.
struct NameRow {
    const char *name;
    const char *program;
    const char *printed;
    const char *complete;
};

const NameRow kNameRows[] = {
    {"shortName", "holder", "holder", "holder"},
    {"nameOfExactly15Bytes", "Glimmer Helper1", "Glimmer Helper1", "Glimmer Helper1"},
    {"longNameCutAfterALetter", "Glimmer HelperXY", "Glimmer HelperX", "Glimmer HelperXY"},
    {"longNameCutAfterABlank", "Glimmer Helper X", "Glimmer Helper", "Glimmer Helper X"},
    {"longNameWithInnerBlanks", "Glimmer Helper (Plugin)", "Glimmer Helper",
     "Glimmer Helper (Plugin)"},
};

void PrintTo(const NameRow &row, std::ostream *out)
{
    *out << row.name << ": \"" << row.program << '"';
}

using ProcessNames = ::testing::TestWithParam<NameRow>;

TEST_P(ProcessNames, AreCompletedWhenTheKernelCutThem)
{
    const NameRow &row = GetParam();
    QTemporaryDir folder;
    const QString program = folder.filePath(QString::fromUtf8(row.program));
    ASSERT_TRUE(testfiles::writeExecutable(program, testfiles::read("/bin/sleep")));
    QProcess child;
    child.start(program, {"600"});
    ASSERT_TRUE(child.waitForStarted());
    const int pid = int(child.processId());
    // What the process-status tool itself prints: the kernel's copy, cut.
    const platform::ProcessResult ps =
        platform::runProcess(platform::tools::kpsToolPath, platform::tools::psArguments(pid));
    EXPECT_EQ(GMUExtensions::parseProcessName(ps.output), row.printed);
    EXPECT_EQ(GMUExtensions::processNameForPID(pid), row.complete);
    child.kill();
    child.waitForFinished();
}

INSTANTIATE_TEST_SUITE_P(Table, ProcessNames, ::testing::ValuesIn(kNameRows), rows::byName);

} // namespace
