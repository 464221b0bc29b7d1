#include "platform/linux/QtAlerts.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace platform
{

namespace
{

// The box sizes itself from its labels' fonts when it is shown. A font set
// through a style sheet comes too late for that, and a bold text measured as
// plain is cut off at the edge; so the message label gets its bold font up front.
void emboldenMessage(QMessageBox *box)
{
    auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
}

// The informative text always wraps, and left alone the box would narrow it to a
// column of a word or two.
void widenInformativeText(QMessageBox *box)
{
    constexpr int kReadableWidth = 320;
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setMinimumWidth(kReadableWidth);
}

QMessageBox *makeBox(QWidget *parent, const QString &windowTitle, const AlertText &text)
{
    auto *box = new QMessageBox(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(windowTitle);
    box->setTextFormat(Qt::PlainText);
    box->setText(text.messageText);
    box->setInformativeText(text.informativeText);
    box->addButton(text.button, QMessageBox::AcceptRole);
    emboldenMessage(box);
    widenInformativeText(box);
    return box;
}

} // namespace

QtAlerts::QtAlerts(QString programName) : m_programName(std::move(programName)) {}

void QtAlerts::beginSheet(QWidget *window, const AlertText &text, std::function<void()> didEnd)
{
    QMessageBox *box = makeBox(window, m_programName, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box, [didEnd = std::move(didEnd)](int) {
        if (didEnd)
            didEnd();
    });
    box->open();
}

void QtAlerts::runModal(QWidget *window, const AlertText &text)
{
    QMessageBox *box = makeBox(window, m_programName, text);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    delete box;
}

} // namespace platform
