#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

// Plain functions over the on-disk bundle layout:
//   Name.app/Contents/{Info.plist, MacOS/<executable>, Resources/...}
namespace platform::bundle
{

// The bundle three levels above an executable at Contents/MacOS/<exe>; the
// executable's own folder when it does not lie inside one.
QString bundlePathForExecutable(const QString &executablePath);

// The same for the running executable (/proc/self/exe), as file-system bytes: a
// folder whose name is not UTF-8 keeps it. Empty when it cannot be read.
QByteArray runningBundlePath();

// Contents/Resources/<name>.<type> when it exists; with an empty name, the first
// resource of that type in name order. Empty string when there is none.
QString resourcePath(const QString &bundlePath, const QString &name, const QString &type);

// The folder name without a trailing ".app".
QString displayName(const QString &bundlePath);

// Contents/Info.plist (XML or binary) as a map; empty when missing or unreadable.
QVariantMap infoDictionary(const QString &bundlePath);
// The same from the bytes of an Info.plist.
QVariantMap infoDictionaryFromData(const QByteArray &data);
// The same from the Info.plist open at `fd`, which it closes; -1 gives an empty map.
// More than any Info.plist holds is never read: a planted giant is not read whole.
QVariantMap infoDictionaryFromDescriptor(int fd);

// Contents/MacOS/<CFBundleExecutable>, or empty when the bundle names none.
QString executablePath(const QString &bundlePath);

} // namespace platform::bundle
