#pragma once

#include "CGMCApp.h"
#include "Fakes.h"
#include "Holders.h"

#include <QHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace quiesce_test
{

// A test root and a test home, each with a plug-in bundle, and a controller over
// them whose services are fakes except the process queries and the kill tool.
class ControllerTest : public ::testing::Test
{
  protected:
    void SetUp() override;

    QString rootFolder() const { return mDir.filePath(QStringLiteral("root")); }
    QString homeFolder() const { return mDir.filePath(QStringLiteral("home")); }
    QString tempPath(const QString &name) const { return mDir.filePath(name); }

    // The controller, made on first use with the services as they are then.
    CGMCApp &controller();
    // Start-up; false when it ended the program instead of showing the window.
    bool started();

    int rows() { return controller().numberOfRowsInTableView(nullptr); }
    QString nameAt(int row)
    {
        return controller().tableView(nullptr, QStringLiteral("ApplicationName"), row).toString();
    }
    QIcon iconAt(int row);
    // Clicks the close button of `row`, as the user would.
    void clickClose(int row);

    // An application record for `pid` in the fake workspace.
    void addRecord(int pid, const QVariantMap &record);

    FakeWorkspace workspace;
    FakeApplicationIcons icons;
    FakeAlerts alerts;
    QList<int> exits;
    // Processes the kill tool was run for, in order.
    QList<int> terminated;
    // Names the process-status tool would give, by process; others are asked for real.
    QHash<int, std::optional<QString>> processNames;
    std::function<GMIMRootActions *()> rootActions;
    QString pluginInRoot;
    QString pluginInHome;

  private:
    QTemporaryDir mDir;
    std::unique_ptr<CGMCApp> mController;
};

} // namespace quiesce_test
