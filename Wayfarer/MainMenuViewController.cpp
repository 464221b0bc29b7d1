#include "Wayfarer/MainMenuViewController.h"

#include "ui_MainMenuViewController.h"

#include "Wayfarer/TrustFile.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/MainBundle.h"
#include "platform/OpenService.h"
#include "platform/User.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLoggingCategory>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace wayfarer
{

namespace
{

// One line on standard error per failure, saying why, beside the alert the user sees.
// Paths are quoted as the log quotes them: a name with a line break stays on one line.
Q_LOGGING_CATEGORY(lcWayfarer, "brindle.wayfarer")

const char kStartPage[] = "/pagewright_files/index.html";
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

// A file of our bundle read by the bytes of its path: a lesson folder whose name is not
// UTF-8 has no QString path that leads to it.
QByteArray readBundleFile(const QByteArray &bundle, const QByteArray &relative)
{
    QFile file;
    const int fd = ::open((bundle + '/' + relative).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {};
    return file.readAll();
}

// The picture CFBundleIconFile names, at the first size of kIconSize or more it holds
// (else its largest), scaled to kIconSize; null when there is none.
QPixmap bundleIcon(const QByteArray &bundle)
{
    QString name =
        platform::bundle::infoDictionaryFromData(readBundleFile(bundle, "Contents/Info.plist"))
            .value(QStringLiteral("CFBundleIconFile"))
            .toString();
    if (name.isEmpty())
        return {};
    if (!name.endsWith(QStringLiteral(".icns")))
        name += QStringLiteral(".icns");
    QByteArray data = readBundleFile(bundle, "Contents/Resources/" + QFile::encodeName(name));
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "icns");
    // Of the sizes the file holds, the smallest that is big enough, else the largest.
    const auto side = [](const QImage &image) { return std::min(image.width(), image.height()); };
    const auto better = [&](const QImage &image, const QImage &than) {
        if (than.isNull())
            return true;
        if (side(than) < kIconSize)
            return side(image) > side(than);
        return side(image) >= kIconSize && side(image) < side(than);
    };
    QImage best;
    for (int i = 0; i < std::max(reader.imageCount(), 1) && reader.jumpToImage(i); ++i) {
        const QImage image = reader.read();
        if (!image.isNull() && better(image, best))
            best = image;
    }
    if (best.isNull())
        return {};
    return QPixmap::fromImage(
        best.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

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

    const QByteArray folder = lessonFolder();
    if (m_openService.openFileAtPath(folder + kStartPage)) {
        m_window->close();
        return;
    }
    qCWarning(lcWayfarer) << folder + kStartPage
                          << "is missing, or no application could be started for it";
    showAlert(QString::fromLatin1(kStartPageErrorFormat).arg(QFile::decodeName(folder)));
}

bool MainMenuViewController::addGlimmerPermissions()
{
    const QByteArray trustFolder = TrustFile::trustFolderPath(m_user.homeDirectoryBytes());
    errno = 0;
    if (TrustFile::addEntry(trustFolder, TrustFile::trustEntry(lessonFolder())))
        return true;
    qCWarning(lcWayfarer) << "the trust folder" << trustFolder
                          << "could not be made:" << qUtf8Printable(qt_error_string(errno));
    return false;
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
    if (package.isEmpty())
        qCWarning(lcWayfarer, "the bundle holds no %s.%s", kInstallerName, kInstallerType);
    else
        qCWarning(lcWayfarer) << package << "could not be opened";
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

// Two lessons' setup windows differ by the lesson's name and, when the packer gave the
// lesson one, its icon (our bundle's icon).
void MainMenuViewController::showLesson()
{
    const QByteArray folder = lessonFolder();
    const QString name = QFile::decodeName(folder.mid(folder.lastIndexOf('/') + 1));
    m_form->lessonNameLabel->setText(name);
    m_form->lessonNameLabel->setToolTip(name);
    // "[*]" in a title stands for the modified mark; doubled it stands for itself.
    QString title = name;
    m_window->setWindowTitle(
        QString::fromUtf8(kWindowTitleFormat)
            .arg(title.replace(QLatin1String("[*]"), QLatin1String("[*][*]"))));

    const QPixmap icon = bundleIcon(platform::bundle::runningBundlePath());
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
