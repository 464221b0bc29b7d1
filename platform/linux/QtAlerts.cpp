#include "QtAlerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace platform {

namespace {

QMessageBox *makeBox(QWidget *parent, const AlertText &text)
{
    auto *box = new QMessageBox(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(text.title);
    box->setText(text.title);
    box->setInformativeText(text.informativeText);
    box->addButton(text.button, QMessageBox::AcceptRole);
    return box;
}

} // namespace

void QtAlerts::beginSheet(QWidget *window, const AlertText &text, std::function<void()> didEnd)
{
    QMessageBox *box = makeBox(window, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box,
                     [didEnd = std::move(didEnd)](int) {
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
