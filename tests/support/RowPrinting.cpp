#include "tests/support/RowPrinting.h"

#include <QRegularExpression>

#include <cstdio>

namespace rows
{

std::string shown(const QByteArray &bytes)
{
    const bool utf8 = QString::fromUtf8(bytes).toUtf8() == bytes;
    std::string quoted = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            quoted += {'\\', c};
        else if (c == '\n')
            quoted += "\\n";
        else if (c == '\r')
            quoted += "\\r";
        else if (byte < 0x20 || byte == 0x7f || (byte >= 0x80 && !utf8)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string shown(const char *bytes)
{
    return bytes ? shown(QByteArray(bytes)) : "NULL";
}

std::string shown(const QString &text)
{
    return shown(text.toUtf8());
}

std::string shown(const std::string &bytes)
{
    return shown(QByteArray::fromStdString(bytes));
}

std::string testName(const QString &name)
{
    QString plain = name;
    plain.remove(u'\'').replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), "_");
    return plain.toStdString();
}

} // namespace rows
