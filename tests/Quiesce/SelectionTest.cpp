// The controller, offscreen, over real holders of a plug-in in a sandbox: whatever lists the
// holders again, the process the user selected stays selected, wherever its row is now.
#include "Quiesce/CGMCApp.h"
#include "Quiesce/core/GMUExtensions.h"
#include "platform/Alerts.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/QtApplicationIcons.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <QFile>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>

#include <gtest/gtest.h>

#include <map>

namespace
{

class NoAlerts : public platform::Alerts
{
  public:
    void beginSheet(QWidget *, const platform::AlertText &, std::function<void()>) override {}
    void runModal(QWidget *, const platform::AlertText &) override {}
};

// Holders a, b and c are listed, b is selected; then something happens and the list is read
// again (by Continue, or by the Close of b's row, whose TERM b does not get).
enum class Change { Nothing, EarlierEnds, SelectedEnds, OneJoins, SelectedClosedStays };

struct SelectionRow {
    const char *name;
    Change change;
    const char *selected; // the name of the selected row afterwards; "" none
};

const SelectionRow kRows[] = {
    {"nothingChanged", Change::Nothing, "holder-b"},
    {"anEarlierHolderEnded", Change::EarlierEnds, "holder-b"},
    {"theSelectedHolderEnded", Change::SelectedEnds, ""},
    {"aHolderJoined", Change::OneJoins, "holder-b"},
    {"closedButStillHolding", Change::SelectedClosedStays, "holder-b"},
};

void PrintTo(const SelectionRow &row, std::ostream *out)
{
    *out << row.name;
}

class KeptSelection : public ::testing::TestWithParam<SelectionRow>
{
  protected:
    // A copy of sleep named `name` that holds the plug-in open once this returns.
    void hold(const char *name)
    {
        const QString program = box.path(name);
        ASSERT_TRUE(testfiles::writeExecutable(program, testfiles::read("/bin/sleep")));
        QProcess &holder = *(holders[name] = std::make_unique<QProcess>());
        holder.start("/bin/sh", {"-c", "exec 3<\"$0\"; exec \"$1\" 600", plugin, program});
        const QString proc = QString("/proc/%1/").arg(holder.processId());
        ASSERT_TRUE(waitUntil([&] {
            return QFile::symLinkTarget(proc + "fd/3") == plugin &&
                   QFile::symLinkTarget(proc + "exe") == program;
        }));
    }
    void end(const char *name)
    {
        holders[name]->kill();
        ASSERT_TRUE(holders[name]->waitForFinished());
    }
    int rowNamed(const QString &name) const
    {
        const QAbstractItemModel *model = table->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, kNameColumn).data().toString() == name)
                return row;
        }
        return -1;
    }
    QString selectedName() const
    {
        const QModelIndexList rows = table->selectionModel()->selectedRows(kNameColumn);
        return rows.size() == 1 ? rows.first().data().toString() : QString();
    }

    QPushButton *closeButton(int row) const
    {
        const int column = CGMCAppTableModel::columnWithIdentifier("CloseApplicationButton");
        return table->indexWidget(table->model()->index(row, column))->findChild<QPushButton *>();
    }

    const int kNameColumn = CGMCAppTableModel::columnWithIdentifier("ApplicationName");
    Sandbox box;
    QString plugin =
        box.home() + "/Library/Internet Plug-Ins/Glimmer Player.plugin/Contents/MacOS/Glimmer";
    std::map<std::string, std::unique_ptr<QProcess>> holders;
    QTableView *table = nullptr;
};

TEST_P(KeptSelection, FollowsTheProcessAcrossARefresh)
{
    const SelectionRow &row = GetParam();
    ASSERT_TRUE(testfiles::write(plugin, "plug-in code"));
    for (const char *name : {"holder-a", "holder-b", "holder-c"})
        hold(name);
    platform::LinuxWorkspace workspace;
    platform::QtApplicationIcons icons{QString()};
    NoAlerts alerts;
    QList<int> exits;
    CGMCApp controller(box.path("root"), box.home(),
                       {workspace, icons, alerts, [] { return nullptr; }, [](int) {},
                        [&](int status) { exits.append(status); },
                        &GMUExtensions::processNameForPID});
    controller.start();
    table = controller.getUiRichViewTableView();
    ASSERT_EQ(table->model()->rowCount(), 3);
    const int selected = rowNamed("holder-b");
    ASSERT_GE(selected, 0);
    table->selectRow(selected);
    ASSERT_EQ(selectedName(), "holder-b");

    if (row.change == Change::EarlierEnds) {
        ASSERT_LT(rowNamed("holder-a"), selected); // so that the selected row moves up
        end("holder-a");
    }
    if (row.change == Change::SelectedEnds)
        end("holder-b");
    if (row.change == Change::OneJoins)
        hold("holder-d");
    if (row.change == Change::SelectedClosedStays)
        closeButton(selected)->click();
    else
        controller.getUiRichViewContinueButton()->click();

    EXPECT_EQ(selectedName(), row.selected);
    EXPECT_EQ(rowNamed("holder-b") >= 0, *row.selected != '\0');
    EXPECT_EQ(exits, QList<int>());
}

INSTANTIATE_TEST_SUITE_P(Table, KeptSelection, ::testing::ValuesIn(kRows), rows::byName);

} // namespace
