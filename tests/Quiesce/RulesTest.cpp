// The rules no run of the program can reach one by one: where the name cell puts
// its text, and how the tools' output and /proc texts are read.
#include "DesktopApplications.h"
#include "GMUExtensions.h"
#include "GMUVerticallyAlignedTextFieldCell.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace
{

struct BoxRow {
    float lineHeight;
    int alignment;
    QRectF frame;
    QRectF box;
};

const QRectF kRow(4, 64, 200, 32);
const QRectF kShortRow(4, 10, 200, 20);

class TextBox : public ::testing::TestWithParam<BoxRow>
{
};

TEST_P(TextBox, PlacesTheBoxByTheRule)
{
    const BoxRow &c = GetParam();
    const QRectF box =
        GMUVerticallyAlignedTextFieldCell::textBox(c.frame, c.alignment, c.lineHeight);
    EXPECT_EQ(box, c.box) << box.y() << " " << box.height();
}

// 0, 3 and -1 keep the frame; 1 centres one line (rounded); 2 goes one line down.
INSTANTIATE_TEST_SUITE_P(
    Cell, TextBox,
    ::testing::Values(BoxRow{16, 0, kRow, kRow}, BoxRow{14.5, 0, kRow, kRow},
                      BoxRow{16, 1, kRow, {4, 72, 200, 16}}, BoxRow{15, 1, kRow, {4, 72, 200, 15}},
                      BoxRow{14.5, 1, kRow, {4, 71, 200, 14.5}},
                      BoxRow{16, 1, kShortRow, {4, 18, 200, 16}},
                      BoxRow{16, 2, kRow, {4, 80, 200, 16}}, BoxRow{15, 2, kRow, {4, 79, 200, 15}},
                      BoxRow{14.5, 2, kRow, {4, 78.5, 200, 14.5}},
                      BoxRow{16, 2, kShortRow, {4, 26, 200, 16}}, BoxRow{16, 3, kRow, kRow},
                      BoxRow{15, 3, kRow, kRow}, BoxRow{16, -1, kRow, kRow}));

// What each reader makes of a text; "-" when it gives nothing.
enum class Reader { Lsof, Ps, Stat, Cgroup, Environ };

struct ParseRow {
    const char *what;
    Reader reader;
    QByteArray text;
    const char *expected;
};

void PrintTo(const ParseRow &row, std::ostream *out)
{
    *out << row.what;
}

QString read(Reader reader, const QByteArray &text)
{
    QStringList pids;
    switch (reader) {
    case Reader::Lsof:
        for (int pid : GMUExtensions::parseOpenFileProcessIDs(text))
            pids.append(QString::number(pid));
        return pids.join(u' ');
    case Reader::Ps:
        return GMUExtensions::parseProcessName(text).value_or("-");
    case Reader::Stat: {
        const auto start = GMUExtensions::parseStartTime(text);
        return start ? QString::number(*start) : "-";
    }
    case Reader::Cgroup:
        return platform::desktop::scopeDesktopId(text);
    case Reader::Environ:
        return platform::desktop::launchedDesktopFile(QByteArray(text).replace(' ', '\0'), 42);
    }
    return {};
}

const char kStat[] = " S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 123456 8 9\n";
const char kUnit[] = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
const char kFile[] = "GIO_LAUNCHED_DESKTOP_FILE=/a.desktop";

class Parsing : public ::testing::TestWithParam<ParseRow>
{
};

TEST_P(Parsing, ReadsWhatTheSystemWrites)
{
    EXPECT_EQ(read(GetParam().reader, GetParam().text), QString::fromUtf8(GetParam().expected));
}

const ParseRow kParseRows[] = {
    {"lsof: in order, duplicates kept", Reader::Lsof, "p977\np412\np412", "977 412 412"},
    {"lsof: garbage around digits", Reader::Lsof, "p\nxyz p12abc p  34\n", "12 34"},
    {"lsof: zero and negatives skipped", Reader::Lsof, "p0\np-1\np7\n", "7"},
    {"lsof: non-ASCII spoils all", Reader::Lsof, "p412\np9\xc3\xa9", ""},
    {"ps: trimmed, inner space kept", Reader::Ps, "\n\t Glimmer Helper \r\n", "Glimmer Helper"},
    {"ps: non-ASCII", Reader::Ps, "caf\xc3\xa9\n", "-"},
    {"stat: plain", Reader::Stat, QByteArray("412 (sleep)") + kStat, "123456"},
    {"stat: ')' in the name", Reader::Stat, QByteArray("412 (a) S (c)") + kStat, "123456"},
    {"stat: too few fields", Reader::Stat, "412 (sleep) S 1 412\n", "-"},
    {"stat: not a number", Reader::Stat, "412 (x) S 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 abc 9\n",
     "-"},
    {"cgroup: launcher scope", Reader::Cgroup,
     QByteArray(kUnit) + "app-gnome-org.gnome.TextEditor-1234.scope\n", "org.gnome.TextEditor"},
    {"cgroup: no launcher", Reader::Cgroup, "0::/app.slice/app-org.kde.kate-12.scope\n",
     "org.kde.kate"},
    {"cgroup: escaped dash", Reader::Cgroup, "0::/app.slice/app-gnome-firefox\\x2desr-2.scope\n",
     "firefox-esr"},
    {"cgroup: below the scope", Reader::Cgroup, "0::/app.slice/app-kde-org.kde.okular-5.scope/t\n",
     "org.kde.okular"},
    {"cgroup: session", Reader::Cgroup, "0::/user.slice/user-1000.slice/session-2.scope\n", ""},
    {"cgroup: dash unescaped", Reader::Cgroup, "0::/app.slice/app-gnome-so-me-1234.scope\n", ""},
    {"environ: the file", Reader::Environ, QByteArray("HOME=/h ") + kFile + " ", "/a.desktop"},
    {"environ: for this process", Reader::Environ,
     QByteArray(kFile) + " GIO_LAUNCHED_DESKTOP_FILE_PID=42 ", "/a.desktop"},
    {"environ: for another", Reader::Environ,
     QByteArray(kFile) + " GIO_LAUNCHED_DESKTOP_FILE_PID=41 ", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, Parsing, ::testing::ValuesIn(kParseRows));

} // namespace
