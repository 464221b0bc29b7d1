#pragma once

#include "platform/ApplicationIcons.h"

namespace platform
{

// Bundle icons read by Qt's image plug-ins (the icns reader comes with the image
// formats plug-ins); a desktop entry's icon (a path ending in ".desktop") from the
// icon theme or the image file the entry names; the generic icon is the icon
// theme's executable icon, else the image at `fallbackIconPath` (shipped in the
// program's bundle).
class QtApplicationIcons : public ApplicationIcons
{
  public:
    explicit QtApplicationIcons(QString fallbackIconPath);
    QIcon iconForBundle(const QString &bundlePath) const override;
    QIcon genericApplicationIcon() const override;

    // The resource name CFBundleIconFile stands for: "AppIcon.icns" and "AppIcon"
    // both name "AppIcon"; other extensions are kept ("Logo.png" stays as it is).
    static QString iconResourceName(const QString &iconFile);

  private:
    QString m_fallbackIconPath;
};

} // namespace platform
