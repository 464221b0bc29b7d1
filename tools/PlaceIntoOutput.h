#pragma once

#include <QString>

namespace lessonpack
{

// Moves the finished bundle `staged` to `target` in one step, so that nobody ever
// sees a half-written lesson there. Without `replace`, an existing `target` is left
// alone and the move fails. With `replace`, an existing `target` is swapped out and
// ends up at `staged` or, where the file system cannot swap, at `displaced` (which must
// not exist); both lie in the caller's staging folder, which the caller removes.
bool placeIntoOutput(const QString &staged, const QString &target, bool replace,
                     const QString &displaced, QString &why);

} // namespace lessonpack
