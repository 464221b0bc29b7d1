#include "foundation_ext/NSStringReplaceAllCategory.h"

namespace
{

// Shared by the text and byte forms. Each pass searches the whole current string
// again, so a target formed by a replacement and its neighbours is replaced as
// well.
template <typename S> S replaceAll(const S &receiver, const S &target, const S &replacement)
{
    if (target.isEmpty())
        return receiver;
    // One left-to-right pass when the loop would never end, and also when it
    // cannot differ from the loop: a one-character target that the replacement does
    // not hold cannot be formed again, and one pass keeps long names from costing
    // time quadratic in their separators.
    if (replacement.contains(target) || target.size() == 1) {
        S once = receiver;
        return once.replace(target, replacement);
    }
    S current = receiver;
    for (qsizetype at = current.indexOf(target); at >= 0; at = current.indexOf(target))
        current = current.left(at) + replacement + current.mid(at + target.size());
    return current;
}

} // namespace

namespace ReplaceAll
{

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
