#include "icons/IcnsFile.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSaveFile>

namespace icons
{
namespace
{

void appendBigEndian32(QByteArray &out, quint32 value)
{
    out.append(char(value >> 24))
        .append(char(value >> 16))
        .append(char(value >> 8))
        .append(char(value));
}

QByteArray pngOf(const QImage &square, int size)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    square.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(&buffer, "PNG");
    return png;
}

} // namespace

bool writeIcns(const QImage &image, const QString &path, QString &why)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        why = QStringLiteral("the icon image is empty");
        return false;
    }
    const int side = std::max(image.width(), image.height());
    QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    {
        QPainter painter(&square);
        painter.drawImage((side - image.width()) / 2, (side - image.height()) / 2, image);
    }

    // Element types by edge length: ic07 is 128 px, ic08 256 px, both PNG data.
    QByteArray elements;
    for (const auto &[type, size] : {std::pair{"ic08", 256}, std::pair{"ic07", 128}}) {
        const QByteArray png = pngOf(square, size);
        if (png.isEmpty()) {
            why = QStringLiteral("the icon could not be encoded");
            return false;
        }
        elements.append(type, 4);
        appendBigEndian32(elements, quint32(png.size() + 8));
        elements.append(png);
    }
    QByteArray file("icns", 4);
    appendBigEndian32(file, quint32(elements.size() + 8));
    file.append(elements);

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.commit()) {
        why = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
        return false;
    }
    return true;
}

bool convertToIcns(const QString &source, const QString &path, QString &why)
{
    QImageReader reader(source);
    const QImage image = reader.read();
    if (image.isNull()) {
        why = QStringLiteral("cannot read the icon %1: %2").arg(source, reader.errorString());
        return false;
    }
    return writeIcns(image, path, why);
}

} // namespace icons
