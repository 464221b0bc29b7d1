#include "Quiesce/CGMCAppTableModel.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

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
    : QAbstractTableModel(parent), m_dataSource(dataSource), m_tableView(tableView)
{
}

void CGMCAppTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

int CGMCAppTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_dataSource.numberOfRowsInTableView(m_tableView);
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
        const QVariant value = m_dataSource.tableView(m_tableView, column, index.row());
        return value.typeId() == QMetaType::QIcon ? value : QVariant();
    }
    if (column == QLatin1String("ApplicationName") &&
        (role == Qt::DisplayRole || role == Qt::ToolTipRole))
        return m_dataSource.tableView(m_tableView, column, index.row());
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

void CGMCAppIconCell::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QIcon icon = item.icon;
    // Background and selection only: the focus frame belongs to the row, not to a cell.
    item.icon = QIcon();
    item.features &= ~QStyleOptionViewItem::HasDecoration;
    item.state &= ~QStyle::State_HasFocus;
    const QWidget *widget = item.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    QRect box(QPoint(), item.decorationSize);
    box.moveCenter(item.rect.center());
    icon.paint(painter, box, Qt::AlignCenter);
}
