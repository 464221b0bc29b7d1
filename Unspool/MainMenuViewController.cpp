#include "Unspool/MainMenuViewController.h"

#include "ui_MainMenuViewController.h"

#include "Unspool/LessonArchive.h"
#include "foundation_ext/FileDescriptor.h"
#include "naming/NamePolicy.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/MainBundle.h"
#include "platform/MainThread.h"
#include "platform/OpenService.h"
#include "platform/TemporaryDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>
#include <QProgressBar>

#include <thread>

namespace unspool
{

namespace
{

// One line on standard error per failure, saying why, beside the alert the learner sees.
// Paths are quoted as the log quotes them: a name with a line break stays on one line.
Q_LOGGING_CATEGORY(lcUnspool, "brindle.unspool")

const char kArchiveName[] = "archive";
const char kArchiveType[] = "zip";
const char kLessonsFolder[] = "Brindle_Lessons/";
const char kLauncher[] = "Wayfarer.app";
// The bar is painted at most this often during an extraction (about 30 times a second).
const int kPaintInterval = 33; // ms

const char kAlertTitle[] = "Error";
const char kAlertButton[] = "Ok";
const char kNoLessonMessage[] = "Error: No lesson to extract.";
const char kFormatMessage[] = "Error: The lesson archive is in a format that cannot be extracted.";
const char kExtractionMessage[] = "Error: The lesson archive could not be extracted.";
const char kLauncherMessage[] = "Error: Could not open Wayfarer.app.";

} // namespace

MainMenuViewController::MainMenuViewController(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_window(std::make_unique<QWidget>()),
      m_form(std::make_unique<Ui::MainMenuWindow>())
{
    m_form->setupUi(m_window.get());
    progressBar = m_form->progressBar;
    label = m_form->label;
    m_paintTimer.setSingleShot(true);
    m_paintTimer.setInterval(kPaintInterval);
    connect(&m_paintTimer, &QTimer::timeout, this,
            [this] { progressBar->setUpdatesEnabled(true); }); // paints the latest value

    // The learner knows the lesson by the name of the bundle they opened.
    const QString lessonName = m_services.mainBundle.displayName();
    if (!lessonName.isEmpty())
        m_window->setWindowTitle(lessonName);
}

MainMenuViewController::~MainMenuViewController() = default;

bool MainMenuViewController::applicationShouldTerminateAfterLastWindowClosed(
    QApplication * /*application*/) const
{
    return true;
}

void MainMenuViewController::applicationDidFinishLaunching()
{
    m_threadRunning.store(true);
    std::thread([this] {
        extractArchive();
        m_threadRunning.store(false);
    }).detach();
}

bool MainMenuViewController::respondsTo(Message message) const
{
    return message == Message::ExtractionProgress || message == Message::ExtractionComplete;
}

// Blocks the extraction until the bar has taken the value, so the values arrive in
// order and the bar stands at 100 once the last entry is in.
void MainMenuViewController::ExtractionProgress(int done, int total)
{
    if (total <= 0)
        return; // an archive that claims no entries has no share to show
    const double percentage = static_cast<double>(done) / static_cast<double>(total) * 100.0;
    m_services.mainThread.runAndWait([this, percentage] { updateProgressBar(percentage); });
}

// The bar shows whole percents: most entries of a large lesson do not change what
// it shows, and those cost no call into the bar. Every new value is applied at
// once, but the bar paints itself on the spot for each one, which costs more than
// extracting a small entry; so it is painted at most once a frame, with the latest
// value, while the hand-overs go on.
void MainMenuViewController::updateProgressBar(double percentage)
{
    const int shown = qRound(percentage);
    if (shown == progressBar->value())
        return;
    if (!m_paintTimer.isActive()) {
        progressBar->setUpdatesEnabled(false);
        m_paintTimer.start();
    }
    progressBar->setValue(shown);
}

void MainMenuViewController::ExtractionComplete()
{
    // The launcher must not inherit the processor the hand-overs kept us on.
    m_services.mainThread.endHandOvers();
    m_services.mainThread.runAndWait([this] { openLauncher(); });
}

void MainMenuViewController::closeOnError()
{
    m_services.quit();
}

void MainMenuViewController::extractArchive()
{
    const QString archivePath = m_services.mainBundle.pathForResource(
        QString::fromLatin1(kArchiveName), QString::fromLatin1(kArchiveType));
    if (archivePath.isEmpty()) {
        qCWarning(lcUnspool).nospace()
            << "the bundle holds no Contents/Resources/" << kArchiveName << '.' << kArchiveType;
        failWith(QString::fromLatin1(kNoLessonMessage));
        return;
    }

    LessonArchive archive;
    archive.setDelegate(this);
    if (!archive.UnzipOpenFile(archivePath)) {
        qCWarning(lcUnspool) << archivePath << "could not be opened as a ZIP archive";
        failWith(QString::fromLatin1(kFormatMessage));
        return;
    }

    // Overwrite: a second run of the same lesson refreshes its files in place.
    const QByteArray folder = lessonFolder();
    if (folder.isEmpty() || !makeLessonFolder()) {
        qCWarning(lcUnspool) << "no private lesson folder could be made at" << folder;
        failWith(QString::fromLatin1(kExtractionMessage));
        return;
    }
    // One hand-over per entry from here on, with the archive's bytes among them.
    m_services.mainThread.beginHandOvers(QFileInfo(archivePath).size(),
                                         archive.getNumberOfEntries());
    m_archive = &archive;
    const bool extracted = archive.UnzipFileTo(folder, true);
    m_archive = nullptr;
    m_services.mainThread.endHandOvers();
    if (!extracted) {
        qCWarning(lcUnspool).nospace() << archivePath << " could not be extracted into " << folder
                                       << ": " << qUtf8Printable(archive.failureReason());
        failWith(QString::fromLatin1(kExtractionMessage));
    }
}

QByteArray MainMenuViewController::lessonFolder() const
{
    const QByteArray temporary = m_services.temporaryDirectory.path();
    if (temporary.isEmpty())
        return {};
    return temporary + kLessonsFolder + QFile::encodeName(m_services.mainBundle.displayName());
}

// A lesson name that is no folder name (a bundle named ".app" or "...app", a "\" in
// it) would put the lesson into Brindle_Lessons itself or beside it, so nothing is
// written for it. The folders are made private: programs are run from there.
bool MainMenuViewController::makeLessonFolder() const
{
    const QString name = m_services.mainBundle.displayName();
    return NamePolicy::lessonNameProblem(name).isEmpty() &&
           m_services.temporaryDirectory.makePrivateFolders(kLessonsFolder +
                                                            QFile::encodeName(name));
}

void MainMenuViewController::failWith(const QString &message)
{
    m_services.mainThread.runAndWait([this, &message] { showError(message); });
}

// The launcher's executable as its bundle names it, each file the one the
// extraction just wrote, reached through the lesson folder it holds: no folder
// renamed or file swapped since can make us start another program. -1 if none.
int MainMenuViewController::openWrittenLauncher() const
{
    const QByteArray contents = QByteArray(kLauncher) + "/Contents/";
    if (!m_archive)
        return -1;
    const QString name = platform::bundle::infoDictionaryFromDescriptor(
                             m_archive->openWrittenFile(contents + "Info.plist"))
                             .value(QStringLiteral("CFBundleExecutable"))
                             .toString();
    return name.isEmpty()
               ? -1
               : m_archive->openWrittenFile(contents + "MacOS/" + QFile::encodeName(name));
}

// Main thread: the launcher is started detached, so it outlives us.
void MainMenuViewController::openLauncher()
{
    const FileDescriptor executable(openWrittenLauncher());
    const QByteArray path = lessonFolder() + '/' + kLauncher;
    if (executable.isOpen() && m_services.openService.startProgram(executable.get(), path)) {
        m_handedOver = true;
        m_services.quit();
        return;
    }
    qCWarning(lcUnspool) << path
                         << (executable.isOpen() ? "could not be started"
                                                 : "holds no executable this run extracted");
    showError(QString::fromLatin1(kLauncherMessage));
}

// Main thread: the sheet returns at once; pressing its button ends the program.
void MainMenuViewController::showError(const QString &message)
{
    const platform::AlertText text{QString::fromLatin1(kAlertTitle), message,
                                   QString::fromLatin1(kAlertButton)};
    m_services.alerts.beginSheet(m_window.get(), text, [this] { closeOnError(); });
}

} // namespace unspool
