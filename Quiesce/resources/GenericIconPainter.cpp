// Draws the generic application icon that the installer helper ships for desktops
// whose icon theme has none: a plain application window. Run at build time:
//   quiesce-generic-icon <output.png>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace
{

constexpr int kSize = 128;

void paintWindow(QPainter &painter)
{
    const QRectF frame(10, 18, 108, 92);
    QPainterPath outline;
    outline.addRoundedRect(frame, 10, 10);
    painter.fillPath(outline, QColor(0xf4, 0xf5, 0xf7));
    painter.setPen(QPen(QColor(0x5b, 0x67, 0x78), 4));
    painter.drawPath(outline);

    // Title bar with its three controls.
    QPainterPath bar;
    bar.addRoundedRect(QRectF(frame.left(), frame.top(), frame.width(), 24), 10, 10);
    bar.addRect(QRectF(frame.left(), frame.top() + 12, frame.width(), 12));
    painter.fillPath(bar.simplified(), QColor(0x5b, 0x67, 0x78));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xf4, 0xf5, 0xf7));
    for (int i = 0; i < 3; ++i)
        painter.drawEllipse(QPointF(frame.left() + 14 + 12 * i, frame.top() + 12), 4, 4);

    // Content lines.
    painter.setBrush(QColor(0xa9, 0xb3, 0xc1));
    for (int i = 0; i < 3; ++i)
        painter.drawRoundedRect(
            QRectF(frame.left() + 16, frame.top() + 40 + 16 * i, i == 2 ? 48 : 76, 8), 4, 4);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paintWindow(painter);
    }
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
