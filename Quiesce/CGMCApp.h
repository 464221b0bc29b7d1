#pragma once

#include "Quiesce/CGMCAppTableModel.h"
#include "Quiesce/core/GMUExtensions.h"

#include <QDeadlineTimer>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>

class GMIMRootActions;
class GMUVerticallyAlignedTextFieldCell;
class QPushButton;
class QTableView;
class QWidget;

namespace Ui
{
class CGMCApp;
}

namespace platform
{
class Alerts;
class ApplicationIcons;
class Workspace;
} // namespace platform

// The close-applications window of the installer helper. It lists every process
// that holds the installed plug-in open (system-wide and per-user copy), lets the
// user close them one by one with the user's own rights (asking a holder with a
// window to close it first, as its close button would) or force all of them closed
// with administrator rights, and ends the process with the status that tells the
// installer whether to go on: 0 nothing holds the plug-in any more, 1 the user gave up.
// Every operation runs on the main thread except the watcher, which keeps the window
// in front of the system installer and shares one atomic flag with the rest.
class CGMCApp : public QObject, public CGMCAppTableDataSource
{
    Q_OBJECT
  public:
    // Every one given by the program (or by a test), none left empty.
    struct Services {
        platform::Workspace &workspace;
        platform::ApplicationIcons &icons;
        platform::Alerts &alerts;
        // The privileged-actions object, asking for administrator rights on first
        // use; nullptr when they were refused.
        std::function<GMIMRootActions *()> rootActions;
        // Sends TERM to a process with the user's own rights and waits for the tool.
        std::function<void(int pid)> terminate;
        // Ends the program with a status; never returns in the program itself.
        std::function<void(int status)> exit;
        // A process's name as the process-status tool gives it.
        std::function<std::optional<QString>(int pid)> processName;
    };

    // Looks for the plug-in below `rootFolder` and below `homeFolder`.
    CGMCApp(QString rootFolder, QString homeFolder, Services services, QObject *parent = nullptr);
    ~CGMCApp() override;

    // Start-up, once the form is loaded: ends the program with status 0 at once when
    // nothing holds the plug-in; otherwise fills the table, starts the watcher and
    // shows the window.
    void start();

    QWidget *getUiAppWindow() const { return uiAppWindow; }
    QTableView *getUiRichViewTableView() const { return uiRichViewTableView; }
    QPushButton *getUiRichViewContinueButton() const { return uiRichViewContinueButton; }
    bool shouldContinuouslyBringWindowToFront() const
    {
        return mShouldContinuouslyBringWindowToFront;
    }
    bool isWatching() const { return m_watcher.joinable(); }

    int numberOfRowsInTableView(const QTableView *tableView) const override;
    QVariant tableView(const QTableView *tableView, const QString &tableColumn,
                       int row) const override;

  signals:
    // Force Close All has looked again after its kills and, with holders left,
    // shows them (the program itself has ended otherwise).
    void forceCloseAllFinished();

  public slots:
    void iaContinueButtonPressed();
    void iaForceCloseAllButtonPressed();
    void iaQuitButtonPressed();
    // Closes the application of the selected row; each row's button selects its row
    // before it calls this.
    void _closeApplicationRowButtonPressed();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void _refreshInternalOpenPIDList();
    void finishForceCloseWhenEnded();
    bool refreshOrFinish();
    void _refreshInternalOpenPIDListMetadata();
    int _PIDToCloseForPIDWithGlimmerPlayerOpen(int pid) const;
    // The identity of the process to signal for entry `index`, when it still exists.
    std::optional<GMUExtensions::ProcessIdentity> identityToClose(qsizetype index,
                                                                  int target) const;
    // Asks the process to close its windows, or sends TERM when it has none or was
    // asked before.
    void closeProcess(const GMUExtensions::ProcessIdentity &identity);
    void _installerAppActivationHandlerRunnable(const std::stop_token &stop);
    void setUpTable();
    // Shows the lists as they are now; the process that was selected stays selected
    // wherever its row is now, and with it gone nothing is.
    void reloadTable();
    int selectedRow() const;
    // The process of the selected row and, as a process holding both copies has
    // two rows, which of its rows (0 the first).
    struct Selection {
        GMUExtensions::ProcessIdentity holder;
        qsizetype occurrence = 0;
    };
    std::optional<Selection> selectedHolder() const;
    void select(const Selection &selection);
    QIcon iconForEntry(const QVariantMap &record, const QString &name) const;

    QString m_rootFolder;
    QString m_homeFolder;
    Services m_services;
    std::unique_ptr<Ui::CGMCApp> m_form;
    std::unique_ptr<QWidget> m_window;

    QWidget *uiAppWindow = nullptr;
    QTableView *uiRichViewTableView = nullptr;
    QPushButton *uiRichViewContinueButton = nullptr;
    CGMCAppTableModel *m_tableModel = nullptr;
    GMUVerticallyAlignedTextFieldCell *m_nameCell = nullptr;

    QList<int> mOpenPIDs;
    // Taken when each holder was listed, so that no signal reaches a process that
    // later received the same number.
    QList<std::optional<GMUExtensions::ProcessIdentity>> m_openPIDIdentities;
    // The process of each row the table shows (a start time of 0 for one that had
    // ended before it could be identified).
    QList<GMUExtensions::ProcessIdentity> m_shownHolders;
    QStringList mOpenPIDNames;
    QList<QIcon> mOpenPIDIcons;
    // Holders already asked to close their windows; a second Close sends TERM.
    QList<GMUExtensions::ProcessIdentity> m_askedToClose;
    std::atomic<bool> mShouldContinuouslyBringWindowToFront{false};
    // After Force Close All: the processes that were sent signal 9, looked at
    // until they have ended or the deadline has passed.
    QList<GMUExtensions::ProcessIdentity> m_forceClosed;
    QTimer m_forceCloseWait;
    QDeadlineTimer m_forceCloseDeadline;
    // Last member: stopped and joined before anything it reads goes away.
    std::jthread m_watcher;
};
