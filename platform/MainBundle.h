#pragma once

#include <QString>
#include <QVariant>

namespace platform
{

// The running program's own application bundle.
class MainBundle
{
  public:
    virtual ~MainBundle() = default;
    // Absolute path of the bundle folder (Name.app), or of the executable's folder
    // when the executable does not lie inside a bundle.
    virtual QString bundlePath() const = 0;
    // Contents/Resources/<name>.<type>, or an empty string when there is none.
    virtual QString pathForResource(const QString &name, const QString &type) const = 0;
    // The name a file browser shows: the folder name without ".app".
    virtual QString displayName() const = 0;
    // A value of the bundle's Info.plist; invalid when absent.
    virtual QVariant infoValue(const QString &key) const = 0;
};

} // namespace platform
