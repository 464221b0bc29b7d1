#include "platform/linux/QtApplicationIcons.h"

#include "platform/Bundle.h"
#include "platform/linux/DesktopEntries.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

namespace platform
{

namespace
{

// Every size stored in the file, so the view can pick the sharpest one.
QIcon readAllSizes(const QString &path)
{
    QIcon icon;
    QImageReader reader(path);
    do {
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    } while (reader.jumpToNextImage());
    return icon;
}

// An entry names a theme icon, or an image by its absolute path. Names the theme
// lacks may still lie in the old shared pixmaps folder.
QIcon desktopEntryIcon(const QString &entryPath)
{
    const std::optional<desktop::DesktopEntry> entry = desktop::entryAtPath(entryPath);
    if (!entry || entry->icon.isEmpty())
        return {};
    if (QFileInfo(entry->icon).isAbsolute())
        return readAllSizes(entry->icon);
    QIcon themed = QIcon::fromTheme(entry->icon);
    if (!themed.isNull())
        return themed;
    for (const char *extension : {".png", ".xpm", ".svg"}) {
        const QString pixmap = QStringLiteral("/usr/share/pixmaps/") + entry->icon + extension;
        if (QFileInfo::exists(pixmap))
            return readAllSizes(pixmap);
    }
    return {};
}

} // namespace

QtApplicationIcons::QtApplicationIcons(QString fallbackIconPath)
    : m_fallbackIconPath(std::move(fallbackIconPath))
{
}

QString QtApplicationIcons::iconResourceName(const QString &iconFile)
{
    if (!iconFile.endsWith(QStringLiteral("icns")))
        return iconFile;
    const int dot = iconFile.lastIndexOf(u'.');
    if (dot <= 0 || iconFile.indexOf(u'/', dot) >= 0)
        return iconFile;
    return iconFile.left(dot);
}

QIcon QtApplicationIcons::iconForBundle(const QString &bundlePath) const
{
    if (bundlePath.endsWith(QLatin1String(".desktop")) && QFileInfo(bundlePath).isFile())
        return desktopEntryIcon(bundlePath);
    if (bundlePath.isEmpty() || !QFileInfo(bundlePath).isDir())
        return {};
    const QVariantMap info = bundle::infoDictionary(bundlePath);
    const QString name =
        iconResourceName(info.value(QStringLiteral("CFBundleIconFile")).toString());
    const QString path = bundle::resourcePath(bundlePath, name, QStringLiteral("icns"));
    if (path.isEmpty())
        return {};
    return readAllSizes(path);
}

QIcon QtApplicationIcons::genericApplicationIcon() const
{
    return QIcon::fromTheme(QStringLiteral("application-x-executable"), QIcon(m_fallbackIconPath));
}

} // namespace platform
