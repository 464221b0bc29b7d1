#pragma once

#include <QString>

#include <ostream>

// Readable GoogleTest failures for Qt strings and lists of them.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
