// The real alert boxes, shown offscreen over a program window: parented to it,
// titled with the program's name, the message bold by its font, texts as plain
// text, and every word of them inside the labels that show them.
#include "QtAlerts.h"

#include "QtPrinters.h"
#include "Waiting.h"

#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <climits>

namespace
{

const char *const kTexts[][2] = {
    {"Error: /home/learner/Downloads/Brindle_Lessons/Rivers and Valleys of the Northern "
     "Highlands, Part Two/pagewright_files/index.html could not be found",
     ""},
    {"Error: /home/learner/Downloads/Brindle_Lessons/<b>Rivers</b>AndValleys_PartTwo/"
     "pagewright_files/index.html could not be found",
     ""},
    {"Error:  Glimmer Security Permissions could not be written.  Some items may not work "
     "properly.",
     ""},
    {"Applications are still open", "Some applications are still using Glimmer Player. Close "
                                     "them with their Close buttons, or press Force Close All."},
};

TEST(QtAlertsShown, ShowEveryWordUnderTheProgramsName)
{
    for (const auto &[message, informative] : kTexts) {
        QWidget window;
        window.show();
        bool ended = false;
        platform::QtAlerts(QStringLiteral("Wayfarer"))
            .beginSheet(&window, {message, informative, "Ok"}, [&ended] { ended = true; });
        QMessageBox *box = window.findChild<QMessageBox *>();
        ASSERT_TRUE(box && waitUntil([&] { return box->isVisible(); })) << message;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Wayfarer"));
        for (const auto &[name, text] : {std::pair{"qt_msgbox_label", QString::fromUtf8(message)},
                                         {"qt_msgbox_informativelabel", informative}}) {
            const auto *label = box->findChild<QLabel *>(name);
            if (text.isEmpty())
                continue;
            ASSERT_TRUE(label && label->isVisible()) << name;
            EXPECT_EQ(label->text(), text);
            const QRect shown = label->contentsRect();
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(0, 0, shown.width(), INT_MAX), Qt::AlignLeft | (label->wordWrap() ? Qt::TextWordWrap : 0), text);
            EXPECT_LE(needed.width(), shown.width()) << name << ": a word runs past the edge";
            EXPECT_LE(needed.height(), shown.height()) << name << ": lines are cut off";
            EXPECT_TRUE(box->rect().contains(QRect(label->mapTo(box, QPoint()), label->size())));
        }
        const auto *heading = box->findChild<QLabel *>("qt_msgbox_label");
        EXPECT_TRUE(heading->font().bold() && heading->textFormat() == Qt::PlainText);
        box->accept();
        EXPECT_TRUE(ended);
    }
}

} // namespace
