#include "tools/LessonName.h"

#include "naming/NamePolicy.h"

#include <QFile>

namespace lessonpack
{

namespace
{

// The longest file name the usual Linux file systems take, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;

} // namespace

QString lessonNameProblem(const QString &name)
{
    // Whatever Unspool would not make a lesson folder of is refused here already.
    QString problem = NamePolicy::lessonNameProblem(name);
    if (!problem.isEmpty())
        return problem;
    const qsizetype bytes = QFile::encodeName(name + QLatin1String(".app")).size();
    if (bytes > kMaxFileNameBytes)
        return QStringLiteral("the lesson name is too long (%1 bytes with \".app\", at most %2)")
            .arg(bytes)
            .arg(kMaxFileNameBytes);
    return {};
}

} // namespace lessonpack
