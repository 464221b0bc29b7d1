#include "MainMenuViewController.h"

#include "ui_MainMenuViewController.h"

#include "Alerts.h"
#include "Bundle.h"
#include "MainBundle.h"
#include "OpenService.h"
#include "TrustFile.h"
#include "User.h"

#include <QFile>
#include <QPushButton>
#include <QUrl>

namespace wayfarer
{

namespace
{

const char kStartPage[] = "/pagewright_files/index.html";
const char kStartPageErrorFormat[] = "Error: %1/pagewright_files/index.html could not be found";
const char kTrustFailureMessage[] = "Error:  Glimmer Security Permissions could not be written.  "
                                    "Some items may not work properly.";
const char kInstallerName[] = "Corvane Glimmer Player";
const char kInstallerType[] = "pkg";
const char kInstallerErrorMessage[] = "Error launching Glimmer Player 10 Installer.";
const char kAlertButton[] = "Ok";
const char kVendorSite[] = "http://www.example.com/";

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

    const QByteArray folder = lessonFolder();
    if (m_openService.openFileAtPath(folder + kStartPage)) {
        m_window->close();
        return;
    }
    showAlert(QString::fromLatin1(kStartPageErrorFormat).arg(QFile::decodeName(folder)));
}

bool MainMenuViewController::addGlimmerPermissions()
{
    const QByteArray trustFolder = TrustFile::trustFolderPath(m_user.homeDirectoryBytes());
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

// The folder that holds our own bundle: X for a bundle at X/Wayfarer.app. Taken
// from where our executable lies, as bytes, so a folder name that is not UTF-8 is
// trusted and opened as it is.
QByteArray MainMenuViewController::lessonFolder() const
{
    const QByteArray bundlePath = platform::bundle::runningBundlePath();
    return bundlePath.left(bundlePath.lastIndexOf('/'));
}

void MainMenuViewController::showAlert(const QString &message)
{
    m_alerts.runModal(m_window.get(), {message, QString(), QString::fromLatin1(kAlertButton)});
}

} // namespace wayfarer
