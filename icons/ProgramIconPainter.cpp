// Draws a program's icon at build time and writes it as its bundle's .icns:
//   program-icon-painter <letter> <#rrggbb> <output.icns>
// A rounded tile in the program's colour with its initial, so the three windows and
// their entries in a task bar are told apart at a glance.
#include "icons/IcnsFile.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <letter> <#rrggbb> <output.icns>\n", argv[0]);
        return 2;
    }
    // Text needs the font machinery, which needs an application; no window is shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    constexpr int kSize = 256;
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(16, 16, kSize - 32, kSize - 32), 48, 48);
        painter.fillPath(tile, QColor(QString::fromLocal8Bit(argv[2])));
        QFont font;
        font.setPixelSize(150);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(0, 0, kSize, kSize), Qt::AlignCenter,
                         QString::fromLocal8Bit(argv[1]));
    }
    QString why;
    if (!icons::writeIcns(image, QString::fromLocal8Bit(argv[3]), why)) {
        std::fprintf(stderr, "%s\n", why.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
