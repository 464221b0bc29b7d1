#include "platform/linux/MountInfo.h"

#include <optional>

namespace platform::mountinfo
{

namespace
{

// The kernel writes space, tab, newline and backslash in paths as \ooo.
QString decodeOctalEscapes(const QByteArray &field)
{
    QByteArray decoded;
    for (qsizetype i = 0; i < field.size(); ++i) {
        bool ok = false;
        const int code = field[i] == '\\' ? field.mid(i + 1, 3).toInt(&ok, 8) : 0;
        if (ok && i + 3 < field.size() && code < 256) {
            decoded += char(code);
            i += 3;
            continue;
        }
        decoded += field[i];
    }
    return QString::fromUtf8(decoded);
}

// Fields: id parent major:minor root mount-point options [optional...] - type source super.
std::optional<Mount> parseLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    const qsizetype separator = fields.indexOf("-");
    if (fields.size() < 10 || separator < 6 || separator + 2 >= fields.size())
        return std::nullopt;
    Mount mount;
    mount.device = QString::fromLatin1(fields[2]);
    mount.mountPoint = decodeOctalEscapes(fields[4]);
    mount.readOnly = fields[5].split(',').contains("ro");
    mount.fileSystem = QString::fromLatin1(fields[separator + 1]);
    mount.source = decodeOctalEscapes(fields[separator + 2]);
    return mount;
}

} // namespace

QList<Mount> parse(const QByteArray &mountinfo)
{
    QList<Mount> mounts;
    for (const QByteArray &line : mountinfo.split('\n')) {
        if (const std::optional<Mount> mount = parseLine(line))
            mounts.append(*mount);
    }
    return mounts;
}

bool isLocal(const Mount &mount)
{
    return mount.source.startsWith(QStringLiteral("/dev/"));
}

} // namespace platform::mountinfo
