#include "QtAlerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace platform
{

namespace
{

QMessageBox *makeBox(QWidget *parent, const AlertText &text)
{
    auto *box = new QMessageBox(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(text.title);
    box->setText(text.title);
    box->setInformativeText(text.informativeText);
    box->addButton(text.button, QMessageBox::AcceptRole);
    // The message reads as a heading; short texts still get a box wide enough not
    // to break a one-line sentence.
    box->setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; min-width: 320px; }"
                       "QLabel#qt_msgbox_informativelabel { min-width: 320px; }"));
    return box;
}

} // namespace

void QtAlerts::beginSheet(QWidget *window, const AlertText &text, std::function<void()> didEnd)
{
    QMessageBox *box = makeBox(window, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box, [didEnd = std::move(didEnd)](int) {
        if (didEnd)
            didEnd();
    });
    box->open();
}

void QtAlerts::runModal(const AlertText &text)
{
    QMessageBox *box = makeBox(nullptr, text);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    delete box;
}

} // namespace platform
