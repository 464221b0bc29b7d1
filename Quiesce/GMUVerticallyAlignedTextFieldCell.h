#pragma once

#include <QFont>
#include <QRectF>
#include <QStyledItemDelegate>

// Draws an item's text lower in its cell than the top-aligned default, by a fixed
// rule on the line height of the cell's font (see textBox). The close-applications
// table uses it to centre names in rows two lines high.
class GMUVerticallyAlignedTextFieldCell : public QStyledItemDelegate
{
    Q_OBJECT
  public:
    explicit GMUVerticallyAlignedTextFieldCell(QObject *parent = nullptr);

    // Stored as given; values other than 1 and 2 behave like 0. The new value shows
    // at the next painting: nothing is repainted here.
    void setVerticalAlignment(int alignment) { mVerticalAlignment = alignment; }
    int verticalAlignment() const { return mVerticalAlignment; }

    // The font the text is drawn in and the line height is taken from; the
    // application's font until set.
    void setFont(const QFont &font) { m_font = font; }
    QFont font() const { return m_font; }

    // The default line height of `font`: ascent + descent + leading.
    static float lineHeight(const QFont &font);

    // Where the text goes in `frame` (y grows downward), in 32-bit float arithmetic:
    //   1: y + roundf(0.5 * L), height L;  2: y + L, height L;  else: `frame` itself.
    // x and width are always kept. The box is not clamped to the frame.
    static QRectF textBox(const QRectF &frame, int alignment, float lineHeight);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

  private:
    int mVerticalAlignment = 0;
    QFont m_font;
};
