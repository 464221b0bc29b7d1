// The real alert boxes, shown offscreen over a program window: every word of their
// texts must lie inside the labels that show them, the message in bold, under a
// short window title.
#include "QtAlerts.h"

#include "Waiting.h"

#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace
{

struct AlertRow {
    const char *name;
    const char *messageText;
    const char *informativeText;
};

std::ostream &operator<<(std::ostream &out, const AlertRow &row)
{
    return out << row.name << " (\"" << row.messageText << "\" / \"" << row.informativeText
               << "\")";
}

const AlertRow kRows[] = {
    {"lesson_path_with_blanks",
     "Error: /home/learner/Downloads/Brindle_Lessons/Rivers and Valleys of the Northern "
     "Highlands, Part Two/pagewright_files/index.html could not be found",
     ""},
    {"lesson_path_without_blanks",
     "Error: /home/learner/Downloads/Brindle_Lessons/RiversAndValleys_PartTwo/pagewright_files/"
     "index.html could not be found",
     ""},
    {"two_sentence_message",
     "Error:  Glimmer Security Permissions could not be written.  Some items may not work "
     "properly.",
     ""},
    {"short_message", "Error launching Glimmer Player 10 Installer.", ""},
    {"heading_and_long_informative_text", "Error",
     "Error: The lesson archive is in a format that cannot be extracted."},
    {"informative_text_with_a_long_path", "Error",
     "Could not write /home/learner/Downloads/Brindle_Lessons/RiversAndValleys/pagewright_files"},
    {"long_heading_and_long_informative_text", "Applications are still open",
     "Some applications are still using Glimmer Player. Close them with their Close buttons, "
     "or press Force Close All, before you continue."},
};

// The room `label` needs to draw its whole text at its own (final) font and width.
QRect roomNeeded(const QLabel &label)
{
    const int wrap = label.wordWrap() ? Qt::TextWordWrap : 0;
    const QRect area(0, 0, label.contentsRect().width(), INT_MAX);
    return label.fontMetrics().boundingRect(area, Qt::AlignLeft | Qt::AlignTop | wrap,
                                            label.text());
}

void expectWholeTextShown(const QMessageBox &box, const char *labelName, const QString &text)
{
    const auto *label = box.findChild<QLabel *>(QLatin1String(labelName));
    if (text.isEmpty()) {
        EXPECT_TRUE(!label || !label->isVisible()) << labelName;
        return;
    }
    ASSERT_NE(label, nullptr) << labelName;
    ASSERT_TRUE(label->isVisible()) << labelName;
    EXPECT_EQ(label->text(), text);
    const QRect needed = roomNeeded(*label);
    const QRect shown = label->contentsRect();
    EXPECT_LE(needed.width(), shown.width()) << labelName << ": a word runs past the edge";
    EXPECT_LE(needed.height(), shown.height()) << labelName << ": lines are cut off";
    // The label itself lies wholly inside the box.
    EXPECT_TRUE(box.rect().contains(QRect(label->mapTo(&box, QPoint()), label->size())))
        << labelName;
}

class QtAlertsShown : public ::testing::TestWithParam<AlertRow>
{
  protected:
    void SetUp() override
    {
        window.setWindowTitle(QStringLiteral("Lesson Setup"));
        window.resize(400, 200);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // The box the alert put over `window`, once it is on screen.
    QMessageBox *shownBox()
    {
        QMessageBox *box = nullptr;
        waitUntil([&] {
            box = window.findChild<QMessageBox *>();
            return box && box->isVisible();
        });
        return box;
    }

    QWidget window;
    platform::QtAlerts alerts{QStringLiteral("Wayfarer")};
};

TEST_P(QtAlertsShown, ShowEveryWordUnderTheProgramsName)
{
    const AlertRow &row = GetParam();
    const platform::AlertText text{QString::fromUtf8(row.messageText),
                                   QString::fromUtf8(row.informativeText), QStringLiteral("Ok")};
    bool ended = false;
    alerts.beginSheet(&window, text, [&ended] { ended = true; });

    QMessageBox *box = shownBox();
    ASSERT_NE(box, nullptr) << "no box over the window";
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Wayfarer"));
    expectWholeTextShown(*box, "qt_msgbox_label", text.messageText);
    expectWholeTextShown(*box, "qt_msgbox_informativelabel", text.informativeText);
    const auto *message = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->font().bold());

    box->accept();
    EXPECT_TRUE(ended);
}

INSTANTIATE_TEST_SUITE_P(Rows, QtAlertsShown, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
