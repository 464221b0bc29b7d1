#include "ControllerTestSupport.h"

#include "GMUExtensions.h"

#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace quiesce_test
{

void ControllerTest::SetUp()
{
    ASSERT_TRUE(mDir.isValid());
    pluginInRoot = makePlugin(rootFolder());
    pluginInHome = makePlugin(homeFolder());
    ASSERT_FALSE(pluginInRoot.isEmpty());
    ASSERT_FALSE(pluginInHome.isEmpty());
}

CGMCApp &ControllerTest::controller()
{
    if (mController)
        return *mController;
    CGMCApp::Services services{
        workspace, icons, alerts,
        rootActions ? rootActions : [] { return static_cast<GMIMRootActions *>(nullptr); },
        // The real kill tool; the wait after it only keeps the test from racing the
        // ending process (the program itself refreshes at once).
        [this](int pid) {
            terminated.append(pid);
            CGMCApp::terminateWithUserRights(pid);
            if (const auto identity = GMUExtensions::identify(pid))
                for (int i = 0; i < 600 && GMUExtensions::stillSameProcess(*identity); ++i)
                    QTest::qWait(10);
        },
        [this](int status) { exits.append(status); },
        [this](int pid) {
            if (processNames.contains(pid))
                return processNames.value(pid);
            return GMUExtensions::processNameForPID(pid);
        }};
    mController = std::make_unique<CGMCApp>(rootFolder(), homeFolder(), std::move(services));
    return *mController;
}

bool ControllerTest::started()
{
    controller().start();
    return exits.isEmpty();
}

QIcon ControllerTest::iconAt(int row)
{
    return controller().tableView(nullptr, QStringLiteral("ApplicationIcon"), row).value<QIcon>();
}

void ControllerTest::clickClose(int row)
{
    QTableView *table = controller().getUiRichViewTableView();
    const int column =
        CGMCAppTableModel::columnWithIdentifier(QStringLiteral("CloseApplicationButton"));
    QWidget *cell = table->indexWidget(table->model()->index(row, column));
    ASSERT_NE(cell, nullptr) << "no button in row " << row;
    auto *button = cell->findChild<QPushButton *>(QStringLiteral("CloseApplicationButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("Close"));
    QTest::mouseClick(button, Qt::LeftButton);
}

void ControllerTest::addRecord(int pid, const QVariantMap &record)
{
    QVariantMap full = record;
    full.insert(QStringLiteral("NSApplicationProcessIdentifier"), pid);
    workspace.applications.append(full);
}

} // namespace quiesce_test
