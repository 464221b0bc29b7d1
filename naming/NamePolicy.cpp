#include "naming/NamePolicy.h"

#include "foundation_ext/NSStringReplaceAllCategory.h"

#include <algorithm>

namespace NamePolicy
{

namespace
{

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool holdsControlCharacter(const QString &name)
{
    return std::any_of(name.begin(), name.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

} // namespace

EntryPath entryPath(const QByteArray &raw)
{
    EntryPath path;
    path.isFolder = raw.endsWith('/') || raw.endsWith('\\');

    QByteArray slashed = raw;
    if (raw.contains('\\'))
        slashed = ReplaceAll::stringByReplacingOccurrencesOfString(raw, "\\", "/");

    for (const QByteArray &component : slashed.split('/')) {
        if (component.isEmpty() || component == ".")
            continue;
        if (component == "..")
            path.leadsOutside = true;
        path.components.append(component);
    }
    if (path.components.isEmpty())
        path.isFolder = true;
    return path;
}

bool holdsControlCharacter(const QByteArray &name)
{
    return std::any_of(name.begin(), name.end(), isControl);
}

QString entryNameProblem(const QByteArray &name)
{
    if (!name.isValidUtf8())
        return QStringLiteral("its name is not valid UTF-8");
    if (holdsControlCharacter(name))
        return QStringLiteral(
            "its name holds a control character (such as a line break or ESC), which Unspool "
            "refuses");
    if (name.contains('\\'))
        return QStringLiteral(
            "its name holds a backslash, which Unspool reads as a folder separator");
    const EntryPath path = entryPath(name);
    if (path.leadsOutside)
        return QStringLiteral("its name holds a \"..\" part, which Unspool refuses");
    // Anything Unspool would tidy (doubled or leading slashes, "." parts) lands
    // elsewhere than the name says.
    if (path.isFolder || path.components.join('/') != name)
        return QStringLiteral("its name is not a plain relative path");
    return {};
}

QString lessonNameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("the lesson name is empty");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("the lesson name \"%1\" is not a folder name").arg(name);
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("the lesson name \"%1\" contains \"/\"").arg(name);
    // Unspool reads "\" as a folder separator in names, so the lesson folder would
    // be another one, or lie outside Brindle_Lessons.
    if (name.contains(QLatin1Char('\\')))
        return QStringLiteral("the lesson name \"%1\" contains \"\\\"").arg(name);
    if (name.contains(QChar(0)))
        return QStringLiteral("the lesson name contains a NUL character");
    // The lesson folder ends up as one line of the plug-in's trust file, so a line
    // break in it would split that line in two.
    if (holdsControlCharacter(name))
        return QStringLiteral(
            "the lesson name contains a control character (such as a line break)");
    return {};
}

bool isDesktopLitter(const QByteArray &fileName)
{
    static const QList<QByteArray> kNames = {".DS_Store", "Icon\r", "__MACOSX", ".git", ".svn"};
    return kNames.contains(fileName) || fileName.startsWith("._") || fileName.endsWith('~');
}

} // namespace NamePolicy
