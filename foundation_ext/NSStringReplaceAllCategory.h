#pragma once

#include <QByteArray>
#include <QString>

// Replace-all as the programs use it: every occurrence of target, searching the
// whole result again after each replacement, so text formed by a replacement
// together with its neighbours is replaced too ("aaa" with "aa" -> "a" gives "a").
namespace ReplaceAll
{

QString stringByReplacingOccurrencesOfString(const QString &receiver, const QString &target,
                                             const QString &replacement);

// The same on raw bytes, for entry names and paths that are not text.
QByteArray stringByReplacingOccurrencesOfString(const QByteArray &receiver,
                                                const QByteArray &target,
                                                const QByteArray &replacement);

} // namespace ReplaceAll
