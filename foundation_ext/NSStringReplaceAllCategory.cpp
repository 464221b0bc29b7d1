#include "NSStringReplaceAllCategory.h"

namespace {

// Shared by the text and byte forms. Each pass searches the whole current string
// again, so a target formed by a replacement and its neighbours is replaced as
// well. A replacement that holds the target would make that endless; then one
// left-to-right pass is made instead.
template <typename S>
S replaceAll(const S &receiver, const S &target, const S &replacement)
{
    if (target.isEmpty())
        return receiver;
    if (replacement.contains(target)) {
        S once = receiver;
        return once.replace(target, replacement);
    }
    S current = receiver;
    for (qsizetype at = current.indexOf(target); at >= 0; at = current.indexOf(target))
        current = current.left(at) + replacement + current.mid(at + target.size());
    return current;
}

} // namespace

namespace ReplaceAll {

QString stringByReplacingOccurrencesOfString(const QString &receiver, const QString &target,
                                             const QString &replacement)
{
    return replaceAll(receiver, target, replacement);
}

QByteArray stringByReplacingOccurrencesOfString(const QByteArray &receiver,
                                                const QByteArray &target,
                                                const QByteArray &replacement)
{
    return replaceAll(receiver, target, replacement);
}

} // namespace ReplaceAll
