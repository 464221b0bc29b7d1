#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QStyledItemDelegate>

class QTableView;

// What the close-applications table asks its controller, one value per cell.
class CGMCAppTableDataSource
{
  public:
    virtual ~CGMCAppTableDataSource() = default;
    virtual int numberOfRowsInTableView(const QTableView *tableView) const = 0;
    // The value for the cell in the column named `tableColumn` (an identifier of
    // CGMCAppTableModel) at `row`: an icon or a text.
    virtual QVariant tableView(const QTableView *tableView, const QString &tableColumn,
                               int row) const = 0;
};

// Adapts a data source to Qt's views. Columns are known by their identifiers,
// which header data carries under ColumnIdentifierRole.
class CGMCAppTableModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    static constexpr int ColumnIdentifierRole = Qt::UserRole + 1;
    // "ApplicationIcon", "ApplicationName", "CloseApplicationButton", in column order.
    static const QStringList &columnIdentifiers();
    // The column with that identifier; -1 when there is none.
    static int columnWithIdentifier(const QString &identifier);

    CGMCAppTableModel(const CGMCAppTableDataSource &dataSource, const QTableView *tableView,
                      QObject *parent = nullptr);

    // Asks the data source again for everything.
    void reloadData();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    const CGMCAppTableDataSource &m_dataSource;
    const QTableView *m_tableView;
};

// Draws the icon column: the icon at the view's icon size, centred in its cell.
class CGMCAppIconCell : public QStyledItemDelegate
{
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
