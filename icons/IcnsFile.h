#pragma once

#include <QString>

class QImage;

namespace icons
{

// Writes `image` as an .icns icon file: square 256 and 128 pixel renditions stored as
// PNG, which the bundle icon readers of every platform and Qt's ICNS plug-in read.
// A non-square image is centred on a transparent square. On failure `why` says why.
bool writeIcns(const QImage &image, const QString &path, QString &why);

// Reads the image at `source` (any format Qt reads: PNG at least) and writes it as
// .icns to `path`.
bool convertToIcns(const QString &source, const QString &path, QString &why);

} // namespace icons
