// The name column's cell: where its text box goes, and that the text is drawn there.
#include "GMUVerticallyAlignedTextFieldCell.h"

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include <gtest/gtest.h>

#include <ostream>

namespace
{

struct BoxCase {
    const char *name;
    float lineHeight;
    int alignment;
    QRectF frame;
    QRectF box;
};

std::ostream &operator<<(std::ostream &os, const BoxCase &c)
{
    return os << c.name << " (L " << c.lineHeight << ", alignment " << c.alignment << ")";
}

const QRectF kRow(4, 64, 200, 32);
const QRectF kShortRow(4, 10, 200, 20);

const BoxCase kBoxCases[] = {
    {"zero_keeps_frame_L16", 16.0f, 0, kRow, kRow},
    {"zero_keeps_frame_L14_5", 14.5f, 0, kRow, kRow},
    {"one_centres_L16", 16.0f, 1, kRow, QRectF(4, 72, 200, 16)},
    {"one_rounds_half_up_L15", 15.0f, 1, kRow, QRectF(4, 72, 200, 15)},
    {"one_rounds_quarter_down_L14_5", 14.5f, 1, kRow, QRectF(4, 71, 200, 14.5)},
    {"two_one_line_down_L16", 16.0f, 2, kRow, QRectF(4, 80, 200, 16)},
    {"two_one_line_down_L15", 15.0f, 2, kRow, QRectF(4, 79, 200, 15)},
    {"two_one_line_down_L14_5", 14.5f, 2, kRow, QRectF(4, 78.5, 200, 14.5)},
    {"two_runs_past_short_frame", 16.0f, 2, kShortRow, QRectF(4, 26, 200, 16)},
    {"three_keeps_frame_L16", 16.0f, 3, kRow, kRow},
    {"three_keeps_frame_L15", 15.0f, 3, kRow, kRow},
    {"minus_one_keeps_frame_L14_5", 14.5f, -1, kRow, kRow},
    {"minus_one_keeps_frame_L16", 16.0f, -1, kRow, kRow},
    {"one_in_short_frame_not_clamped", 16.0f, 1, kShortRow, QRectF(4, 18, 200, 16)},
};

class TextBoxTest : public ::testing::TestWithParam<BoxCase>
{
};

TEST_P(TextBoxTest, PlacesTheBoxByTheRule)
{
    const BoxCase &c = GetParam();
    const QRectF box =
        GMUVerticallyAlignedTextFieldCell::textBox(c.frame, c.alignment, c.lineHeight);
    EXPECT_EQ(box, c.box) << "got " << box.x() << "," << box.y() << " " << box.width() << "x"
                          << box.height();
}

INSTANTIATE_TEST_SUITE_P(Cell, TextBoxTest, ::testing::ValuesIn(kBoxCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TextFieldCell, StartsAtZeroAndStoresAnyValue)
{
    GMUVerticallyAlignedTextFieldCell cell;
    EXPECT_EQ(cell.verticalAlignment(), 0);
    for (int value : {1, 2, 3, -1, 0}) {
        cell.setVerticalAlignment(value);
        EXPECT_EQ(cell.verticalAlignment(), value);
    }
}

// The topmost row of ink when `cell` paints "Hg" into a white 32-pixel row.
int firstInkedRow(const GMUVerticallyAlignedTextFieldCell &cell)
{
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), QStringLiteral("Hg"));
    QImage image(120, 32, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.palette.setColor(QPalette::Text, Qt::black);
        option.palette.setColor(QPalette::Base, Qt::white);
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        cell.paint(&painter, option, model.index(0, 0));
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                return y;
    return -1;
}

TEST(TextFieldCell, DrawsTheTextInItsBox)
{
    GMUVerticallyAlignedTextFieldCell cell;
    QFont font;
    font.setPixelSize(13);
    font.setBold(true);
    cell.setFont(font);
    const int top = firstInkedRow(cell);
    ASSERT_GE(top, 0) << "the text was not drawn at all";

    cell.setVerticalAlignment(1);
    const float lineHeight = GMUVerticallyAlignedTextFieldCell::lineHeight(font);
    EXPECT_EQ(firstInkedRow(cell), top + int(std::roundf(lineHeight * 0.5f)));
    cell.setVerticalAlignment(3);
    EXPECT_EQ(firstInkedRow(cell), top);
}

} // namespace
