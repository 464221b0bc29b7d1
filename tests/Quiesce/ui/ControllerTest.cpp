// The close-applications window over real processes that hold a test plug-in open.
#include "ControllerTestSupport.h"
#include "GMUVerticallyAlignedTextFieldCell.h"

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTranslator>

using namespace quiesce_test;

namespace
{

const QString kName = QStringLiteral("NSApplicationName");
const QString kPath = QStringLiteral("NSApplicationPath");
const QString kBundleID = QStringLiteral("NSApplicationBundleIdentifier");

TEST_F(ControllerTest, ShowsTheWindowWhileSomethingHoldsThePlugin)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    EXPECT_TRUE(controller().getUiAppWindow()->isVisible());
    EXPECT_TRUE(controller().isWatching());
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(
        controller().getUiRichViewTableView()->selectionModel()->selectedRows().value(0).row(), 0);
    EXPECT_EQ(controller().getUiRichViewTableView()->verticalHeader()->defaultSectionSize(), 32);
    const auto *nameCell = qobject_cast<GMUVerticallyAlignedTextFieldCell *>(
        controller().getUiRichViewTableView()->itemDelegateForColumn(1));
    ASSERT_NE(nameCell, nullptr);
    EXPECT_EQ(nameCell->verticalAlignment(), 1);
    EXPECT_TRUE(nameCell->font().bold());
    EXPECT_EQ(nameCell->font().pixelSize(), 13);
}

TEST_F(ControllerTest, EndsAtOnceWhenNothingHoldsThePlugin)
{
    EXPECT_FALSE(started());
    EXPECT_EQ(exits, QList<int>{0});
    EXPECT_FALSE(controller().getUiAppWindow()->isVisible());
    EXPECT_FALSE(controller().isWatching());
}

TEST_F(ControllerTest, MissingPluginFoldersCountAsUnheld)
{
    ASSERT_TRUE(QDir(rootFolder() + QStringLiteral("/Library")).removeRecursively());
    ASSERT_TRUE(QDir(homeFolder() + QStringLiteral("/Library")).removeRecursively());
    EXPECT_FALSE(started());
    EXPECT_EQ(exits, QList<int>{0});
}

TEST_F(ControllerTest, AHolderOfBothCopiesFillsTwoRowsAndOneCloseEndsIt)
{
    Holder holder({pluginInRoot, pluginInHome});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 2);
    EXPECT_EQ(nameAt(0), QStringLiteral("sleep"));
    EXPECT_EQ(nameAt(1), QStringLiteral("sleep"));

    clickClose(1);
    EXPECT_EQ(terminated, QList<int>{holder.pid()});
    EXPECT_TRUE(holder.endedBySignal());
    EXPECT_EQ(exits, QList<int>{0});
}

TEST_F(ControllerTest, NamesAndIconsComeFromRecordsProcessesOrNumbers)
{
    Holder recorded({pluginInRoot});
    Holder plain({pluginInHome});
    Holder nameless({pluginInRoot});
    Holder pathOnly({pluginInHome});
    Holder pluginHost({pluginInRoot});
    for (const Holder *h : {&recorded, &plain, &nameless, &pathOnly, &pluginHost})
        ASSERT_TRUE(h->isHolding());
    addRecord(recorded.pid(), {{kName, QStringLiteral("Sketch Pad")},
                               {kPath, QStringLiteral("/Apps/Sketch Pad.app")}});
    addRecord(pathOnly.pid(), {{kPath, QStringLiteral("/Apps/Unnamed.app")}});
    addRecord(pluginHost.pid(), {{kName, QStringLiteral("WebKitPluginHost")},
                                 {kPath, QStringLiteral("/Apps/Host.app")}});
    processNames.insert(nameless.pid(), std::nullopt);
    processNames.insert(pathOnly.pid(), QStringLiteral("unnamed-tool"));
    icons.add(QStringLiteral("/Apps/Sketch Pad.app"), Qt::blue);
    icons.add(QStringLiteral("/Apps/Unnamed.app"), Qt::green);
    icons.add(QStringLiteral("/Applications/Safari.app"), Qt::red);
    icons.add(QStringLiteral("/Apps/Host.app"), Qt::yellow);

    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 5);
    QHash<QString, qint64> iconsByName;
    for (int row = 0; row < rows(); ++row)
        iconsByName.insert(nameAt(row), iconAt(row).cacheKey());
    EXPECT_EQ(iconsByName.value(QStringLiteral("Sketch Pad")),
              icons.bundles.value(QStringLiteral("/Apps/Sketch Pad.app")).cacheKey());
    EXPECT_EQ(iconsByName.value(QStringLiteral("sleep")), icons.generic.cacheKey());
    EXPECT_EQ(iconsByName.value(QStringLiteral("Process %1").arg(nameless.pid())),
              icons.generic.cacheKey());
    EXPECT_EQ(iconsByName.value(QStringLiteral("unnamed-tool")),
              icons.bundles.value(QStringLiteral("/Apps/Unnamed.app")).cacheKey());
    EXPECT_EQ(iconsByName.value(QStringLiteral("Safari")),
              icons.bundles.value(QStringLiteral("/Applications/Safari.app")).cacheKey());
    EXPECT_EQ(iconsByName.size(), 5) << QStringList(iconsByName.keys()).join(", ").toStdString();
}

TEST_F(ControllerTest, TheTableAnswersEmptyBeyondItsLists)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    ASSERT_EQ(nameAt(0), QStringLiteral("sleep")) << "positive control";
    EXPECT_EQ(controller().tableView(nullptr, QStringLiteral("ApplicationIcon"), 0).typeId(),
              QMetaType::QIcon);
    for (const QString &column :
         {QStringLiteral("ApplicationIcon"), QStringLiteral("ApplicationName"),
          QStringLiteral("CloseApplicationButton")}) {
        for (int row : {-1, 1, 7}) {
            const QVariant value = controller().tableView(nullptr, column, row);
            EXPECT_EQ(value.typeId(), QMetaType::QString) << column.toStdString() << " " << row;
            EXPECT_EQ(value.toString(), QString()) << column.toStdString() << " " << row;
        }
    }
    // The button column is handed the name, as every column but the icon one.
    EXPECT_EQ(controller().tableView(nullptr, QStringLiteral("CloseApplicationButton"), 0),
              QStringLiteral("sleep"));
}

TEST_F(ControllerTest, TheViewShowsIconsAndNamesInIdentifiedColumns)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    const QAbstractItemModel *model = controller().getUiRichViewTableView()->model();
    ASSERT_EQ(model->columnCount(), 3);
    QStringList identifiers;
    for (int column = 0; column < model->columnCount(); ++column)
        identifiers.append(
            model->headerData(column, Qt::Horizontal, CGMCAppTableModel::ColumnIdentifierRole)
                .toString());
    EXPECT_EQ(identifiers,
              (QStringList{"ApplicationIcon", "ApplicationName", "CloseApplicationButton"}));
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
              icons.generic.cacheKey());
    EXPECT_EQ(model->index(0, 1).data(Qt::DisplayRole).toString(), QStringLiteral("sleep"));
    // The button column shows its button, titled by the form, not the value.
    EXPECT_FALSE(model->index(0, 2).data(Qt::DisplayRole).isValid());
}

TEST_F(ControllerTest, ClosingOneRowLeavesTheOthers)
{
    Holder first({pluginInRoot});
    Holder second({pluginInHome});
    ASSERT_TRUE(first.isHolding() && second.isHolding());
    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 2);

    clickClose(0);
    EXPECT_TRUE(first.endedBySignal());
    EXPECT_TRUE(second.isRunning());
    EXPECT_TRUE(exits.isEmpty());
    ASSERT_EQ(rows(), 1);

    clickClose(0);
    EXPECT_TRUE(second.endedBySignal());
    EXPECT_EQ(exits, QList<int>{0});
}

TEST_F(ControllerTest, ACloseWithoutSelectionDoesNothing)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    controller().getUiRichViewTableView()->clearSelection();
    controller()._closeApplicationRowButtonPressed();
    EXPECT_TRUE(terminated.isEmpty());
    EXPECT_TRUE(holder.isRunning());
    EXPECT_TRUE(exits.isEmpty());
    EXPECT_EQ(rows(), 1);
}

TEST_F(ControllerTest, AHolderGoneSinceListingIsNotSignalled)
{
    Holder stays({pluginInHome});
    Holder goes({pluginInRoot});
    ASSERT_TRUE(stays.isHolding() && goes.isHolding());
    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 2);
    ASSERT_EQ(controller().tableView(nullptr, QStringLiteral("ApplicationName"), 0), "sleep");

    ::kill(goes.pid(), SIGKILL);
    ASSERT_TRUE(goes.endedBySignal());
    clickClose(0); // the row of `goes`: the system-wide copy is listed first
    EXPECT_TRUE(terminated.isEmpty());
    EXPECT_EQ(rows(), 1);

    clickClose(0);
    EXPECT_EQ(terminated, QList<int>{stays.pid()}) << "positive control";
}

TEST_F(ControllerTest, ThePluginHostIsClosedThroughTheLastBrowserProcess)
{
    Holder host({pluginInRoot});
    Holder firstBrowser(QStringList{});
    Holder lastBrowser(QStringList{});
    ASSERT_TRUE(host.isHolding() && firstBrowser.isHolding() && lastBrowser.isHolding());
    processNames.insert(host.pid(), QStringLiteral("WebKitPluginHost"));
    addRecord(firstBrowser.pid(), {{kBundleID, QStringLiteral("com.apple.Safari")}});
    addRecord(12345678, {{kBundleID, QStringLiteral("com.apple.safari")}});
    addRecord(lastBrowser.pid(), {{kBundleID, QStringLiteral("com.apple.Safari")}});
    ASSERT_TRUE(started());

    clickClose(0);
    EXPECT_EQ(terminated, QList<int>{lastBrowser.pid()});
    EXPECT_TRUE(lastBrowser.endedBySignal());
    EXPECT_TRUE(firstBrowser.isRunning());
    EXPECT_TRUE(host.isRunning());
    EXPECT_EQ(rows(), 1);
}

TEST_F(ControllerTest, ThePluginHostIsClosedItselfWithoutABrowser)
{
    Holder host({pluginInRoot});
    ASSERT_TRUE(host.isHolding());
    processNames.insert(host.pid(), QStringLiteral("WebKitPluginHost"));
    ASSERT_TRUE(started());
    clickClose(0);
    EXPECT_EQ(terminated, QList<int>{host.pid()});
    EXPECT_EQ(exits, QList<int>{0});
}

TEST_F(ControllerTest, ContinueWithHoldersLeftShowsTheAlertThenRefreshesNames)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    ASSERT_EQ(nameAt(0), QStringLiteral("sleep"));
    QString nameDuringAlert;
    alerts.whileShown = [&] {
        nameDuringAlert = nameAt(0);
        addRecord(holder.pid(), {{kName, QStringLiteral("Renamed")}});
    };

    QTest::mouseClick(controller().getUiRichViewContinueButton(), Qt::LeftButton);
    ASSERT_EQ(alerts.shown.size(), 1);
    // Without the string table every text shows as its key.
    EXPECT_EQ(alerts.shown[0].messageText, QStringLiteral("CloseAppsDialogTitle"));
    EXPECT_EQ(alerts.shown[0].informativeText, QStringLiteral("CloseAppsDialogMessage"));
    EXPECT_EQ(alerts.shown[0].button, QStringLiteral("OKButtonTitle"));
    EXPECT_EQ(nameDuringAlert, QStringLiteral("sleep"));
    EXPECT_EQ(nameAt(0), QStringLiteral("Renamed"));
    EXPECT_TRUE(exits.isEmpty());
}

TEST_F(ControllerTest, ContinueUsesTheStringTable)
{
    QTranslator table;
    ASSERT_TRUE(table.load(QStringLiteral(QUIESCE_STRING_TABLE)));
    QCoreApplication::installTranslator(&table);
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    controller().iaContinueButtonPressed();
    QCoreApplication::removeTranslator(&table);
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].messageText, QStringLiteral("Applications are still open"));
    EXPECT_TRUE(alerts.shown[0].informativeText.contains(QStringLiteral("Force Close All")));
    EXPECT_EQ(alerts.shown[0].button, QStringLiteral("OK"));
}

TEST_F(ControllerTest, ContinueWithNothingLeftEndsWithoutAlert)
{
    auto holder = std::make_unique<Holder>(QStringList{pluginInRoot});
    ASSERT_TRUE(holder->isHolding());
    ASSERT_TRUE(started());
    holder.reset();
    controller().iaContinueButtonPressed();
    EXPECT_TRUE(alerts.shown.isEmpty());
    EXPECT_EQ(exits, QList<int>{0});
}

TEST_F(ControllerTest, QuitEndsWithOneWhateverTheList)
{
    auto holder = std::make_unique<Holder>(QStringList{pluginInRoot});
    ASSERT_TRUE(holder->isHolding());
    ASSERT_TRUE(started());
    holder.reset();
    QTest::mouseClick(
        controller().getUiAppWindow()->findChild<QPushButton *>(QStringLiteral("quitButton")),
        Qt::LeftButton);
    EXPECT_EQ(exits, QList<int>{1});
}

TEST_F(ControllerTest, ClosingTheWindowEndsWithOne)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    controller().getUiAppWindow()->close();
    EXPECT_EQ(exits, QList<int>{1});
    EXPECT_TRUE(holder.isRunning());
}

TEST_F(ControllerTest, ForceCloseAllWithoutRightsChangesNothing)
{
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    int asked = 0;
    rootActions = [&] {
        ++asked;
        return static_cast<GMIMRootActions *>(nullptr);
    };
    ASSERT_TRUE(started());
    controller().iaForceCloseAllButtonPressed();
    controller().iaForceCloseAllButtonPressed();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(exits.isEmpty());
    EXPECT_TRUE(holder.isRunning());
    EXPECT_TRUE(controller().getUiAppWindow()->isVisible());
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
}

struct FrontCase {
    const char *name;
    const char *frontBundleID;
    bool activates;
};

std::ostream &operator<<(std::ostream &os, const FrontCase &c)
{
    return os << c.name << " (\"" << c.frontBundleID << "\")";
}

const FrontCase kFrontCases[] = {
    {"installer_in_front", "com.apple.installer", true},
    {"installer_any_case", "COM.Apple.Installer", true},
    {"browser_in_front", "com.apple.Safari", false},
    {"nothing_known_in_front", "", false},
    {"installer_prefix_only", "com.apple.installer.helper", false},
    {"desktop_software_installer", "org.gnome.Software", true},
    {"desktop_package_manager", "org.kde.discover", true},
    {"desktop_text_editor", "org.gnome.TextEditor", false},
};

class WatcherTest : public ControllerTest, public ::testing::WithParamInterface<FrontCase>
{
};

TEST_P(WatcherTest, BringsTheWindowBackOnlyInFrontOfTheInstaller)
{
    const FrontCase &c = GetParam();
    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    workspace.setFrontBundleIdentifier(QString::fromUtf8(c.frontBundleID));
    ASSERT_TRUE(started());
    // Wait for a few looks rather than for a time.
    for (int i = 0; i < 3000 && workspace.frontQuestions < 3; ++i)
        QTest::qWait(10);
    ASSERT_GE(workspace.frontQuestions, 3);
    if (c.activates)
        EXPECT_GE(workspace.activations, 2);
    else
        EXPECT_EQ(workspace.activations, 0);
}

INSTANTIATE_TEST_SUITE_P(Controller, WatcherTest, ::testing::ValuesIn(kFrontCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
