#pragma once

#include <QIcon>
#include <QString>

namespace platform
{

// Icons that represent applications in lists. Main-thread only (images need the GUI).
class ApplicationIcons
{
  public:
    virtual ~ApplicationIcons() = default;
    // The icon of the application bundle at `bundlePath`: the .icns resource its
    // Info.plist names under CFBundleIconFile ("AppIcon" or "AppIcon.icns"), or the
    // bundle's first .icns resource when it names none. Where the platform keeps
    // application records in files of their own (the path of an application
    // record), the icon that file names. A null icon when there is no such bundle,
    // record or resource, or the file holds no readable image.
    virtual QIcon iconForBundle(const QString &bundlePath) const = 0;
    // The icon shown for an application that has none of its own.
    virtual QIcon genericApplicationIcon() const = 0;
};

} // namespace platform
