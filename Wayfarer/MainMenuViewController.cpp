#include "MainMenuViewController.h"

#include "ui_MainMenuViewController.h"

#include "Alerts.h"
#include "MainBundle.h"
#include "OpenService.h"
#include "TrustFile.h"
#include "User.h"

#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

namespace wayfarer
{

namespace
{

const char kStartPageFormat[] = "%1/pagewright_files/index.html";
const char kStartPageErrorFormat[] = "Error: %1/pagewright_files/index.html could not be found";
const char kTrustFailureMessage[] = "Error:  Glimmer Security Permissions could not be written.  "
                                    "Some items may not work properly.";
const char kInstallerName[] = "Corvane Glimmer Player";
const char kInstallerType[] = "pkg";
const char kInstallerErrorMessage[] = "Error launching Glimmer Player 10 Installer.";
const char kAlertButton[] = "Ok";
const char kVendorSite[] = "http://www.example.com/";
// "Lesson Setup" first, so that scripts find the window whatever the lesson.
const char kWindowTitleFormat[] = "Lesson Setup \u2014 %1";
const int kIconSize = 64;

} // namespace

MainMenuViewController::MainMenuViewController(const platform::MainBundle &mainBundle,
                                               const platform::User &user,
                                               platform::OpenService &openService,
                                               platform::Alerts &alerts, QObject *parent)
    : QObject(parent), m_mainBundle(mainBundle), m_user(user), m_openService(openService),
      m_alerts(alerts), m_window(std::make_unique<QWidget>()),
      m_form(std::make_unique<Ui::MainMenuWindow>())
{
    m_form->setupUi(m_window.get());
    launchLessonButton = m_form->launchLessonButton;
    launchGlimmerInstallButton = m_form->launchGlimmerInstallButton;
    launchBrindleButton = m_form->launchBrindleButton;

    showLesson();

    connect(launchLessonButton, &QPushButton::clicked, this,
            &MainMenuViewController::handleLessonLaunch);
    connect(launchGlimmerInstallButton, &QPushButton::clicked, this,
            &MainMenuViewController::handleInstallGlimmer);
    connect(launchBrindleButton, &QPushButton::clicked, this,
            &MainMenuViewController::handleLaunchBrindle);
}

MainMenuViewController::~MainMenuViewController() = default;

bool MainMenuViewController::applicationShouldTerminateAfterLastWindowClosed(
    QApplication * /*application*/) const
{
    return true;
}

// The trust entry goes in first, so the page finds the plug-in ready; a failure
// there is reported but does not hold the lesson back.
void MainMenuViewController::handleLessonLaunch()
{
    if (!addGlimmerPermissions())
        showAlert(QString::fromLatin1(kTrustFailureMessage));

    const QString folder = lessonFolder();
    if (m_openService.openFile(QString::fromLatin1(kStartPageFormat).arg(folder))) {
        m_window->close();
        return;
    }
    showAlert(QString::fromLatin1(kStartPageErrorFormat).arg(folder));
}

bool MainMenuViewController::addGlimmerPermissions()
{
    const QString trustFolder = TrustFile::trustFolderPath(m_user.homeDirectory());
    return TrustFile::addEntry(trustFolder, TrustFile::trustEntry(lessonFolder()));
}

// The vendor's page is a courtesy: whether a browser came up is not reported.
void MainMenuViewController::handleLaunchBrindle()
{
    m_openService.openURL(QUrl(QString::fromLatin1(kVendorSite)));
}

void MainMenuViewController::handleInstallGlimmer()
{
    const QString package = m_mainBundle.pathForResource(QString::fromLatin1(kInstallerName),
                                                         QString::fromLatin1(kInstallerType));
    if (!package.isEmpty() && m_openService.openFile(package))
        return;
    showAlert(QString::fromLatin1(kInstallerErrorMessage));
}

// The folder that holds our own bundle: X for a bundle at X/Wayfarer.app.
QString MainMenuViewController::lessonFolder() const
{
    const QString bundlePath = m_mainBundle.bundlePath();
    return bundlePath.left(bundlePath.lastIndexOf(u'/'));
}

// Two lessons' setup windows differ by the lesson's name and, when the packer gave the
// lesson one, its icon (our bundle's icon).
void MainMenuViewController::showLesson()
{
    const QString name = QFileInfo(lessonFolder()).fileName();
    m_form->lessonNameLabel->setText(name);
    m_form->lessonNameLabel->setToolTip(name);
    // "[*]" in a title stands for the modified mark; doubled it stands for itself.
    QString title = name;
    m_window->setWindowTitle(
        QString::fromUtf8(kWindowTitleFormat)
            .arg(title.replace(QLatin1String("[*]"), QLatin1String("[*][*]"))));

    QString iconFile = m_mainBundle.infoValue(QStringLiteral("CFBundleIconFile")).toString();
    if (iconFile.endsWith(QStringLiteral(".icns")))
        iconFile.chop(5);
    const QPixmap icon =
        QIcon(m_mainBundle.pathForResource(iconFile, QStringLiteral("icns"))).pixmap(kIconSize);
    m_form->lessonIconLabel->setPixmap(icon);
    m_form->lessonIconLabel->setVisible(!icon.isNull());
    // A long name wraps; the window grows to show all its lines.
    const int width = m_window->width();
    m_window->resize(width, std::max(m_window->height(), m_window->heightForWidth(width)));
}

void MainMenuViewController::showAlert(const QString &message)
{
    m_alerts.runModal(m_window.get(), {message, QString(), QString::fromLatin1(kAlertButton)});
}

} // namespace wayfarer
