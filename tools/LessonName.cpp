#include "LessonName.h"

#include <QFile>

namespace lessonpack
{

namespace
{

// The longest file name the usual Linux file systems take, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;

bool hasControlCharacter(const QString &name)
{
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

} // namespace

QString lessonNameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("the lesson name is empty");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("the lesson name \"%1\" is not a folder name").arg(name);
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("the lesson name \"%1\" contains \"/\"").arg(name);
    if (name.contains(QChar(0)))
        return QStringLiteral("the lesson name contains a NUL character");
    // The unpacked lesson folder is named after the bundle and ends up as one line of
    // the trust file, so a line break in it would split that line in two.
    if (hasControlCharacter(name))
        return QStringLiteral(
            "the lesson name contains a control character (such as a line break)");
    const qsizetype bytes = QFile::encodeName(name + QLatin1String(".app")).size();
    if (bytes > kMaxFileNameBytes)
        return QStringLiteral("the lesson name is too long (%1 bytes with \".app\", at most %2)")
            .arg(bytes)
            .arg(kMaxFileNameBytes);
    return {};
}

} // namespace lessonpack
