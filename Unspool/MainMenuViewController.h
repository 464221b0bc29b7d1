#pragma once

#include "Unspool/LessonArchiveDelegate.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QApplication;
class QLabel;
class QProgressBar;
class QWidget;
class LessonArchive;

namespace Ui
{
class MainMenuWindow;
}

namespace platform
{
class Alerts;
class MainBundle;
class MainThread;
class OpenService;
class TemporaryDirectory;
} // namespace platform

namespace unspool
{

// The services the controller works with; the program hands it the real ones,
// the tests hand it fakes.
struct Services {
    const platform::MainBundle &mainBundle;
    const platform::TemporaryDirectory &temporaryDirectory;
    platform::OpenService &openService;
    platform::Alerts &alerts;
    platform::MainThread &mainThread;
    // Ends the program (the application's event loop).
    std::function<void()> quit;
};

// The extraction window's controller. It owns the form (window, bar, label),
// unpacks the bundle's lesson archive on a thread of its own and hands every
// piece of user-interface work to the main thread. Apart from whether that thread
// is still running it keeps no state: the lesson folder is worked out afresh
// wherever it is needed.
class MainMenuViewController : public QObject, public LessonArchiveDelegate
{
    Q_OBJECT

  public:
    explicit MainMenuViewController(Services services, QObject *parent = nullptr);
    ~MainMenuViewController() override;

    QWidget *window() const { return m_window.get(); }

    bool applicationShouldTerminateAfterLastWindowClosed(QApplication *application) const;
    // Starts the extraction thread and returns at once; the thread is never joined.
    void applicationDidFinishLaunching();

    // LessonArchiveDelegate: only progress and completion are taken.
    bool respondsTo(Message message) const override;
    void ExtractionProgress(int done, int total) override;
    void ExtractionComplete() override;

    // Main thread only.
    void updateProgressBar(double percentage);
    void closeOnError();

    // The extraction thread's work; callable directly on any thread.
    void extractArchive();

    QProgressBar *getProgressBar() const { return progressBar; }
    QLabel *getLabel() const { return label; }

    // Whether an extraction thread started by applicationDidFinishLaunching has
    // not finished yet. Whoever ends the process must not run destructors while it
    // has, since the thread still uses this object.
    bool extractionThreadRunning() const { return m_threadRunning.load(); }

    // What the program ends with, for installers and scripts that run a lesson: 0
    // once the launcher has been started, 1 otherwise (a failure alert was
    // dismissed, or the window was closed before the hand-over). Main thread only.
    int exitStatus() const { return m_handedOver ? 0 : 1; }

    // <temporary directory>Brindle_Lessons/<display name of our bundle>, as
    // file-system bytes; empty when there is no safe temporary directory.
    QByteArray lessonFolder() const;

  private:
    bool makeLessonFolder() const;
    void failWith(const QString &message);
    int openWrittenLauncher() const;
    void openLauncher();
    void showError(const QString &message);

    Services m_services;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Ui::MainMenuWindow> m_form;
    std::atomic<bool> m_threadRunning{false};
    // The archive while it extracts, for the hand-over to reach what it wrote.
    const LessonArchive *m_archive = nullptr;
    // Holds the bar's painting back to once a frame (see updateProgressBar).
    QTimer m_paintTimer;
    bool m_handedOver = false; // main thread only

    // Outlets, filled from the form.
    QProgressBar *progressBar = nullptr;
    QLabel *label = nullptr;
};

} // namespace unspool
