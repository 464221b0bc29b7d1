#include "Quiesce/GMUVerticallyAlignedTextFieldCell.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

#include <cmath>

GMUVerticallyAlignedTextFieldCell::GMUVerticallyAlignedTextFieldCell(QObject *parent)
    : QStyledItemDelegate(parent), m_font(QApplication::font())
{
}

float GMUVerticallyAlignedTextFieldCell::lineHeight(const QFont &font)
{
    return static_cast<float>(QFontMetricsF(font).lineSpacing());
}

QRectF GMUVerticallyAlignedTextFieldCell::textBox(const QRectF &frame, int alignment,
                                                  float lineHeight)
{
    const float y = static_cast<float>(frame.y());
    switch (alignment) {
    case 1:
        return {frame.x(), y + std::roundf(lineHeight * 0.5f), frame.width(), lineHeight};
    case 2:
        return {frame.x(), y + lineHeight, frame.width(), lineHeight};
    default:
        return frame;
    }
}

void GMUVerticallyAlignedTextFieldCell::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                              const QModelIndex &index) const
{
    // The line height is taken before anything else, whatever the alignment.
    const float height = lineHeight(m_font);
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget *widget = item.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();

    // Background and selection fill the whole cell; only the text moves. The focus
    // frame belongs to the row, not to a cell.
    const QString text = item.text;
    item.text.clear();
    item.state &= ~QStyle::State_HasFocus;
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRectF box =
        textBox(item.rect, mVerticalAlignment, height).adjusted(margin, 0, -margin, 0);
    const bool selected = item.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        item.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    painter->save();
    painter->setFont(m_font);
    painter->setPen(
        item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const QString shown = QFontMetricsF(m_font).elidedText(text, Qt::ElideRight, box.width());
    painter->drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);
    painter->restore();
}
