#include "CGMCAppTableModel.h"

#include <QIcon>

const QStringList &CGMCAppTableModel::columnIdentifiers()
{
    static const QStringList identifiers{QStringLiteral("ApplicationIcon"),
                                         QStringLiteral("ApplicationName"),
                                         QStringLiteral("CloseApplicationButton")};
    return identifiers;
}

int CGMCAppTableModel::columnWithIdentifier(const QString &identifier)
{
    return columnIdentifiers().indexOf(identifier);
}

CGMCAppTableModel::CGMCAppTableModel(const CGMCAppTableDataSource &dataSource,
                                     const QTableView *tableView, QObject *parent)
    : QAbstractTableModel(parent), mDataSource(dataSource), mTableView(tableView)
{
}

void CGMCAppTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

int CGMCAppTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : mDataSource.numberOfRowsInTableView(mTableView);
}

int CGMCAppTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columnIdentifiers().size());
}

QVariant CGMCAppTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const QString column = columnIdentifiers().value(index.column());
    // The button column shows its own button; its value is never drawn.
    if (column == QLatin1String("ApplicationIcon") && role == Qt::DecorationRole) {
        const QVariant value = mDataSource.tableView(mTableView, column, index.row());
        return value.typeId() == QMetaType::QIcon ? value : QVariant();
    }
    if (column == QLatin1String("ApplicationName") &&
        (role == Qt::DisplayRole || role == Qt::ToolTipRole))
        return mDataSource.tableView(mTableView, column, index.row());
    return {};
}

QVariant CGMCAppTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == ColumnIdentifierRole)
        return columnIdentifiers().value(section);
    if (role == Qt::DisplayRole &&
        section == columnWithIdentifier(QStringLiteral("ApplicationName")))
        return tr("Application");
    return {};
}

void CGMCAppIconCell::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationAlignment = Qt::AlignCenter;
    option->decorationPosition = QStyleOptionViewItem::Top;
    option->displayAlignment = Qt::AlignCenter;
}
