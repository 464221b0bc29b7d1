// The rules no run of the program can reach one by one: where the name cell puts
// its text, and how the tools' output and /proc texts are read.
#include "Quiesce/GMUVerticallyAlignedTextFieldCell.h"
#include "Quiesce/core/GMUExtensions.h"
#include "platform/linux/DesktopApplications.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

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
    const QByteArray stat = " S 1 412 412 0 -1 4194560 90 0 0 0 0 0 0 0 20 0 1 0 123456 8 9\n";
    EXPECT_EQ(GMUExtensions::parseStartTime("412 (a) S (c)" + stat), 123456u); // ')' in the name
    EXPECT_EQ(GMUExtensions::parseStartTime("412 (sleep) S 1 412\n"), std::nullopt);
    const QByteArray slice = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    using platform::desktop::scopeDesktopId;
    EXPECT_EQ(scopeDesktopId(slice + "app-gnome-org.gnome.TextEditor-1234.scope\n"),
              "org.gnome.TextEditor");
    EXPECT_EQ(scopeDesktopId(slice + "app-gnome-firefox\\x2desr-2.scope\n"), "firefox-esr");
    EXPECT_EQ(scopeDesktopId("0::/user.slice/user-1000.slice/session-2.scope\n"), "");
}

} // namespace
