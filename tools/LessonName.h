#pragma once

#include <QString>

namespace lessonpack
{

// Why `name` cannot serve as the name of a lesson bundle (<name>.app, one folder in
// the output folder and, after unpacking, one line of the plug-in's trust file), or
// an empty string when it can.
QString lessonNameProblem(const QString &name);

} // namespace lessonpack
