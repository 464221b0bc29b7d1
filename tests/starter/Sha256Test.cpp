// The lesson file's own SHA-256, by the processor's instructions and without them, against Qt's,
// on lengths around the 64-byte block and its 56-byte padding limit, fed whole and in pieces.
extern "C" {
#include "starter/sha256.h"
}

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace
{

QByteArray digest(const QByteArray &data, qsizetype piece)
{
    struct sha256 hash;
    sha256_begin(&hash);
    for (qsizetype at = 0; at < data.size(); at += piece)
        sha256_add(&hash, data.constData() + at, size_t(qMin(piece, data.size() - at)));
    char hex[65];
    sha256_end_hex(&hash, hex);
    return hex;
}

TEST(StarterSha256, AgreesWithQtEitherWay)
{
    for (const int portable : {0, 1}) {
        sha256_portable_only = portable;
        for (const qsizetype size : {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 70001}) {
            QByteArray data(size, Qt::Uninitialized);
            QRandomGenerator(quint32(size))
                .fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
            const QByteArray expected =
                QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
            for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(64), size + 1})
                EXPECT_EQ(digest(data, qMax(piece, qsizetype(1))), expected)
                    << "size " << size << ", pieces of " << piece << ", portable " << portable;
        }
    }
}

} // namespace
