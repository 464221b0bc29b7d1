#pragma once

#include "tests/support/RowPrinting.h"

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable GoogleTest failures for Qt strings and bytes: quoted, with what cannot be
// shown as it is escaped.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << rows::shown(text);
}

// A file's whole content would bury the failure: its start and its size tell enough.
inline void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    constexpr qsizetype kShown = 256;
    *out << rows::shown(bytes.left(kShown));
    if (bytes.size() > kShown)
        *out << "... (" << bytes.size() << " bytes)";
}
