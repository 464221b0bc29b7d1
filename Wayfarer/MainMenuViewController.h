#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QApplication;
class QPushButton;
class QWidget;

namespace Ui
{
class MainMenuWindow;
}

namespace platform
{
class Alerts;
class MainBundle;
class OpenService;
class User;
} // namespace platform

namespace wayfarer
{

// The launcher window's controller: it owns the form (the window, which names the
// lesson and shows its icon, and its three buttons) and carries out the buttons'
// actions with the services it is given. It keeps no state of its own; the lesson
// folder is worked out afresh each time.
class MainMenuViewController : public QObject
{
    Q_OBJECT

  public:
    MainMenuViewController(const platform::MainBundle &mainBundle, const platform::User &user,
                           platform::OpenService &openService, platform::Alerts &alerts,
                           QObject *parent = nullptr);
    ~MainMenuViewController() override;

    QWidget *window() const { return m_window.get(); }

    bool applicationShouldTerminateAfterLastWindowClosed(QApplication *application) const;
    // Lists the lesson's content folder in the plug-in's trust file; false only when
    // the trust folder was missing and could not be made.
    bool addGlimmerPermissions();

    QPushButton *getLaunchLessonButton() const { return launchLessonButton; }
    QPushButton *getLaunchGlimmerInstallButton() const { return launchGlimmerInstallButton; }
    QPushButton *getLaunchBrindleButton() const { return launchBrindleButton; }

  public slots:
    void handleLessonLaunch();
    void handleLaunchBrindle();
    void handleInstallGlimmer();

  private:
    QByteArray lessonFolder() const;
    void showLesson();
    void showAlert(const QString &message);

    const platform::MainBundle &m_mainBundle;
    const platform::User &m_user;
    platform::OpenService &m_openService;
    platform::Alerts &m_alerts;

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Ui::MainMenuWindow> m_form;

    // Outlets, filled from the form.
    QPushButton *launchLessonButton = nullptr;
    QPushButton *launchGlimmerInstallButton = nullptr;
    QPushButton *launchBrindleButton = nullptr;
};

} // namespace wayfarer
