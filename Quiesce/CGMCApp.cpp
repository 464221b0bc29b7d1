#include "Quiesce/CGMCApp.h"

#include "Quiesce/GMUVerticallyAlignedTextFieldCell.h"
#include "Quiesce/core/GMIMRootActions.h"
#include "ui_CGMCApp.h"

#include "platform/Alerts.h"
#include "platform/ApplicationIcons.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace
{

// One line on standard error per failed close, saying why; the window shows what is left.
Q_LOGGING_CATEGORY(lcQuiesce, "brindle.quiesce")

const QString kGlimmerPluginFilesystemRelativeLocation =
    QStringLiteral("Library/Internet Plug-Ins/Glimmer Player.plugin");
const QString sInstallerAppBundleID = QStringLiteral("com.apple.installer");
// The desktops' own software installers, known by their desktop entry ids.
const QStringList kDesktopInstallerIDs = {
    QStringLiteral("org.gnome.Software"),
    QStringLiteral("gnome-software-local-file"),
    QStringLiteral("gnome-software-local-file-packagekit"),
    QStringLiteral("gnome-software-local-file-flatpak"),
    QStringLiteral("org.kde.discover"),
    QStringLiteral("org.kde.discover.urlhandler"),
    QStringLiteral("io.elementary.appcenter"),
    QStringLiteral("mintinstall"),
    QStringLiteral("gdebi"),
};

const QString kPluginHostProcessName = QStringLiteral("WebKitPluginHost");
const QString kBrowserName = QStringLiteral("Safari");
const QString kBrowserBundlePath = QStringLiteral("/Applications/Safari.app");
const QString kBrowserBundleID = QStringLiteral("com.apple.Safari");

constexpr int kRowHeight = 32;
// The name font is 13 logical pixels high; 13 of Qt's points would be a third
// larger on a 96 dpi screen and no longer sit centred in 32-pixel rows.
constexpr int kNameFontPixelSize = 13;
constexpr auto kWatcherPeriod = std::chrono::microseconds(200000);
// How long Force Close All waits for the killed processes to end before it lists
// the holders again, and how often it looks meanwhile.
constexpr auto kForceCloseWait = std::chrono::seconds(2);
constexpr auto kForceCloseLook = std::chrono::milliseconds(20);

QString pluginLocation(const QString &folder)
{
    return folder.endsWith(u'/') ? folder + kGlimmerPluginFilesystemRelativeLocation
                                 : folder + u'/' + kGlimmerPluginFilesystemRelativeLocation;
}

QList<int> holdersBelow(const QString &folder)
{
    return GMUExtensions::processIDsWithOpenFile(pluginLocation(folder)).value_or(QList<int>());
}

bool isInstaller(const QString &identifier)
{
    return identifier.compare(sInstallerAppBundleID, Qt::CaseInsensitive) == 0 ||
           kDesktopInstallerIDs.contains(identifier, Qt::CaseInsensitive);
}

} // namespace

CGMCApp::CGMCApp(QString rootFolder, QString homeFolder, Services services, QObject *parent)
    : QObject(parent), m_rootFolder(std::move(rootFolder)), m_homeFolder(std::move(homeFolder)),
      m_services(std::move(services)), m_form(std::make_unique<Ui::CGMCApp>()),
      m_window(std::make_unique<QWidget>())
{
    m_form->setupUi(m_window.get());
    uiAppWindow = m_window.get();
    uiRichViewTableView = m_form->uiRichViewTableView;
    uiRichViewContinueButton = m_form->uiRichViewContinueButton;
    connect(uiRichViewContinueButton, &QPushButton::clicked, this,
            &CGMCApp::iaContinueButtonPressed);
    connect(m_form->forceCloseAllButton, &QPushButton::clicked, this,
            &CGMCApp::iaForceCloseAllButtonPressed);
    connect(m_form->quitButton, &QPushButton::clicked, this, &CGMCApp::iaQuitButtonPressed);
    m_forceCloseWait.setInterval(kForceCloseLook);
    connect(&m_forceCloseWait, &QTimer::timeout, this, &CGMCApp::finishForceCloseWhenEnded);
    // Closing the window, or the application being asked to quit, means the user stopped.
    uiAppWindow->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &CGMCApp::iaQuitButtonPressed);
}

CGMCApp::~CGMCApp() = default;

void CGMCApp::start()
{
    if (!refreshOrFinish())
        return;
    _refreshInternalOpenPIDListMetadata();
    setUpTable();
    reloadTable();
    if (m_tableModel->rowCount() > 0)
        uiRichViewTableView->selectRow(0);
    mShouldContinuouslyBringWindowToFront = true;
    m_watcher = std::jthread(
        [this](const std::stop_token &stop) { _installerAppActivationHandlerRunnable(stop); });

    uiAppWindow->adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = uiAppWindow->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        uiAppWindow->move(frame.topLeft());
    }
    uiAppWindow->show();
    uiAppWindow->raise();
    uiAppWindow->activateWindow();
}

void CGMCApp::setUpTable()
{
    m_tableModel = new CGMCAppTableModel(*this, uiRichViewTableView, this);
    uiRichViewTableView->setModel(m_tableModel);
    QHeaderView *rows = uiRichViewTableView->verticalHeader();
    rows->setMinimumSectionSize(kRowHeight);
    rows->setDefaultSectionSize(kRowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    const int iconColumn =
        CGMCAppTableModel::columnWithIdentifier(QStringLiteral("ApplicationIcon"));
    const int nameColumn =
        CGMCAppTableModel::columnWithIdentifier(QStringLiteral("ApplicationName"));
    const int buttonColumn =
        CGMCAppTableModel::columnWithIdentifier(QStringLiteral("CloseApplicationButton"));
    uiRichViewTableView->setItemDelegateForColumn(iconColumn, new CGMCAppIconCell(this));
    m_nameCell = new GMUVerticallyAlignedTextFieldCell(this);
    QFont font = QGuiApplication::font();
    font.setPixelSize(kNameFontPixelSize);
    font.setBold(true);
    m_nameCell->setFont(font);
    m_nameCell->setVerticalAlignment(1);
    uiRichViewTableView->setItemDelegateForColumn(nameColumn, m_nameCell);

    QHeaderView *columns = uiRichViewTableView->horizontalHeader();
    columns->setSectionResizeMode(iconColumn, QHeaderView::Fixed);
    columns->resizeSection(iconColumn, kRowHeight + 8);
    columns->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(buttonColumn, QHeaderView::Fixed);
    columns->resizeSection(buttonColumn, 96);
}

// Qt drops a row's widgets with its model's rows, so every reload makes the row
// buttons anew. A button first selects its own row, as the close action reads the
// selection.
void CGMCApp::reloadTable()
{
    const std::optional<Selection> selected = selectedHolder();
    m_tableModel->reloadData();
    m_shownHolders.clear();
    for (qsizetype i = 0; i < mOpenPIDs.size(); ++i)
        m_shownHolders.append(
            m_openPIDIdentities.at(i).value_or(GMUExtensions::ProcessIdentity{mOpenPIDs.at(i)}));
    const int buttonColumn =
        CGMCAppTableModel::columnWithIdentifier(QStringLiteral("CloseApplicationButton"));
    for (int row = 0; row < m_tableModel->rowCount(); ++row) {
        auto *cell = new QWidget;
        auto *layout = new QHBoxLayout(cell);
        layout->setContentsMargins(6, 2, 6, 2);
        auto *button = new QPushButton(tr("Close"), cell);
        button->setObjectName(QStringLiteral("CloseApplicationButton"));
        button->setAutoDefault(false);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, row] {
            uiRichViewTableView->selectRow(row);
            _closeApplicationRowButtonPressed();
        });
        uiRichViewTableView->setIndexWidget(m_tableModel->index(row, buttonColumn), cell);
    }
    if (selected)
        select(*selected);
}

std::optional<CGMCApp::Selection> CGMCApp::selectedHolder() const
{
    const int row = selectedRow();
    if (row < 0 || row >= m_shownHolders.size())
        return std::nullopt;
    const GMUExtensions::ProcessIdentity &holder = m_shownHolders.at(row);
    return Selection{holder,
                     std::count(m_shownHolders.cbegin(), m_shownHolders.cbegin() + row, holder)};
}

// The same row of the process when it still has as many, else its last.
void CGMCApp::select(const Selection &selection)
{
    int found = -1;
    qsizetype seen = 0;
    for (int row = 0; row < m_shownHolders.size() && seen <= selection.occurrence; ++row) {
        if (m_shownHolders.at(row) == selection.holder) {
            found = row;
            ++seen;
        }
    }
    if (found >= 0)
        uiRichViewTableView->selectRow(found);
}

int CGMCApp::selectedRow() const
{
    const QItemSelectionModel *selection = uiRichViewTableView->selectionModel();
    if (!selection)
        return -1;
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.constLast().row();
}

void CGMCApp::_refreshInternalOpenPIDList()
{
    mOpenPIDs = holdersBelow(m_rootFolder) + holdersBelow(m_homeFolder);
    m_openPIDIdentities.clear();
    for (int pid : std::as_const(mOpenPIDs))
        m_openPIDIdentities.append(GMUExtensions::identify(pid));
}

// Lists the holders again; with none left the work is done and the caller stops.
bool CGMCApp::refreshOrFinish()
{
    _refreshInternalOpenPIDList();
    if (!mOpenPIDs.isEmpty())
        return true;
    m_services.exit(0);
    return false;
}

void CGMCApp::_refreshInternalOpenPIDListMetadata()
{
    QStringList names;
    QList<QIcon> icons;
    const QList<QVariantMap> launched = m_services.workspace.launchedApplications();
    for (int pid : std::as_const(mOpenPIDs)) {
        const QVariantMap record =
            GMUExtensions::infoDictionaryForPID(launched, pid).value_or(QVariantMap());
        QString name;
        if (record.contains(QStringLiteral("NSApplicationName")))
            name = record.value(QStringLiteral("NSApplicationName")).toString();
        else
            name = m_services.processName(pid).value_or(QStringLiteral("Process %1").arg(pid));
        const QIcon icon = iconForEntry(record, name);
        if (name == kPluginHostProcessName)
            name = kBrowserName;
        names.append(name);
        icons.append(icon);
    }
    mOpenPIDNames = names;
    mOpenPIDIcons = icons;
}

// The plug-in host stands for the browser and shows the browser's icon.
QIcon CGMCApp::iconForEntry(const QVariantMap &record, const QString &name) const
{
    const QString bundlePath = name == kPluginHostProcessName
                                   ? kBrowserBundlePath
                                   : record.value(QStringLiteral("NSApplicationPath")).toString();
    const QIcon icon = m_services.icons.iconForBundle(bundlePath);
    return icon.isNull() ? m_services.icons.genericApplicationIcon() : icon;
}

// The plug-in host dies with its browser, so closing it means closing the browser:
// the last running application with the browser's identifier.
int CGMCApp::_PIDToCloseForPIDWithGlimmerPlayerOpen(int pid) const
{
    if (m_services.processName(pid) != kPluginHostProcessName)
        return pid;
    int target = pid;
    for (const QVariantMap &record : m_services.workspace.launchedApplications()) {
        if (record.value(QStringLiteral("NSApplicationBundleIdentifier")).toString() ==
            kBrowserBundleID)
            target = record.value(QStringLiteral("NSApplicationProcessIdentifier")).toInt();
    }
    return target;
}

std::optional<GMUExtensions::ProcessIdentity> CGMCApp::identityToClose(qsizetype index,
                                                                       int target) const
{
    if (target == mOpenPIDs.at(index))
        return m_openPIDIdentities.at(index);
    return GMUExtensions::identify(target);
}

void CGMCApp::_closeApplicationRowButtonPressed()
{
    const int row = selectedRow();
    if (row < 0 || row >= mOpenPIDs.size())
        return;
    const int target = _PIDToCloseForPIDWithGlimmerPlayerOpen(mOpenPIDs.at(row));
    // A holder that has gone since it was listed is not signalled: its number may
    // name another process by now.
    const auto identity = identityToClose(row, target);
    if (identity && GMUExtensions::stillSameProcess(*identity))
        closeProcess(*identity);
    if (!refreshOrFinish())
        return;
    _refreshInternalOpenPIDListMetadata();
    reloadTable();
}

// TERM ends an editor with its unsaved work, so a holder with a window is first
// asked the way its close button asks, which lets it offer to save. When it is
// still listed at the next Close, it gets TERM.
void CGMCApp::closeProcess(const GMUExtensions::ProcessIdentity &identity)
{
    const bool asked =
        std::any_of(m_askedToClose.cbegin(), m_askedToClose.cend(), [&](const auto &a) {
            return a.pid == identity.pid && a.startTime == identity.startTime;
        });
    if (!asked && m_services.workspace.requestClose(identity.pid)) {
        m_askedToClose.append(identity);
        return;
    }
    m_services.terminate(identity.pid);
}

void CGMCApp::iaContinueButtonPressed()
{
    if (!refreshOrFinish())
        return;
    // A text missing from the string table shows as its key.
    m_services.alerts.runModal(uiAppWindow,
                               {qtTrId("CloseAppsDialogTitle"), qtTrId("CloseAppsDialogMessage"),
                                qtTrId("OKButtonTitle")});
    _refreshInternalOpenPIDListMetadata();
    reloadTable();
}

void CGMCApp::iaForceCloseAllButtonPressed()
{
    if (m_forceCloseWait.isActive())
        return;
    GMIMRootActions *actions = m_services.rootActions();
    if (!actions) {
        qCWarning(lcQuiesce, "Force Close All: no administrator rights (refused, or the root "
                             "helper could not be started)");
        return;
    }
    // The installer may come to the front while the kills run; let it.
    mShouldContinuouslyBringWindowToFront = false;
    m_forceClosed.clear();
    for (qsizetype i = 0; i < mOpenPIDs.size(); ++i) {
        const int target = _PIDToCloseForPIDWithGlimmerPlayerOpen(mOpenPIDs.at(i));
        // A process that holds both copies is listed twice but signalled once.
        const auto identity = identityToClose(i, target);
        if (!identity || m_forceClosed.contains(*identity))
            continue;
        if (actions->forceQuitProcess(*identity))
            m_forceClosed.append(*identity);
        else if (!GMUExtensions::hasEnded(*identity))
            qCWarning(lcQuiesce, "Force Close All: the root helper did not end process %d",
                      identity->pid);
    }
    // A killed process takes a moment to end and let go of its files. The window
    // keeps answering while the timer looks; the button waits for the answer.
    m_form->forceCloseAllButton->setEnabled(false);
    m_forceCloseDeadline = QDeadlineTimer(kForceCloseWait);
    m_forceCloseWait.start();
}

// Only the holders listed afresh decide: the program reports success (status 0)
// when nothing holds the plug-in any more, and otherwise shows what is left.
void CGMCApp::finishForceCloseWhenEnded()
{
    const bool allEnded =
        std::all_of(m_forceClosed.cbegin(), m_forceClosed.cend(), &GMUExtensions::hasEnded);
    if (!allEnded && !m_forceCloseDeadline.hasExpired())
        return;
    m_forceCloseWait.stop();
    if (!allEnded)
        qCWarning(lcQuiesce, "Force Close All: processes it killed had not ended after the wait");
    m_forceClosed.clear();
    m_form->forceCloseAllButton->setEnabled(true);
    mShouldContinuouslyBringWindowToFront = true;
    if (refreshOrFinish()) {
        _refreshInternalOpenPIDListMetadata();
        reloadTable();
    }
    emit forceCloseAllFinished();
}

void CGMCApp::iaQuitButtonPressed()
{
    m_services.exit(1);
}

bool CGMCApp::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == uiAppWindow && event->type() == QEvent::Close)
        iaQuitButtonPressed();
    return QObject::eventFilter(watched, event);
}

int CGMCApp::numberOfRowsInTableView(const QTableView *) const
{
    return int(mOpenPIDNames.size());
}

QVariant CGMCApp::tableView(const QTableView *, const QString &tableColumn, int row) const
{
    if (row < 0)
        return QString();
    if (tableColumn == QLatin1String("ApplicationIcon"))
        return row < mOpenPIDIcons.size() ? QVariant(mOpenPIDIcons.at(row)) : QVariant(QString());
    return row < mOpenPIDNames.size() ? mOpenPIDNames.at(row) : QString();
}

// Runs until the controller goes away (in the program: until the process exits).
// The sleep comes first, so the first look is one period after the start.
void CGMCApp::_installerAppActivationHandlerRunnable(const std::stop_token &stop)
{
    platform::Workspace &workspace = m_services.workspace;
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    for (;;) {
        wakeUp.wait_for(lock, stop, kWatcherPeriod, [] { return false; });
        if (stop.stop_requested())
            return;
        const QString front = workspace.activeApplication()
                                  .value(QStringLiteral("NSApplicationBundleIdentifier"))
                                  .toString();
        if (isInstaller(front) && mShouldContinuouslyBringWindowToFront)
            workspace.activateIgnoringOtherApps();
    }
}
