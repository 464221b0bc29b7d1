#include "platform/linux/BundledQt.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>

namespace platform
{

void choosePlatformPlugin()
{
    const QByteArray requested = qgetenv("QT_QPA_PLATFORM");
    if (requested.isEmpty())
        return;
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QDir plugins(QFileInfo(executable).absolutePath() +
                       QStringLiteral("/../PlugIns/platforms"));
    if (executable.isEmpty() || !plugins.exists())
        return;
    // The setting may list fall-backs ("wayland;xcb"), each with options after a colon.
    for (const QByteArray &entry : requested.split(';')) {
        const QString name = QString::fromLocal8Bit(entry.split(':').first()).trimmed();
        if (name.isEmpty())
            continue;
        const QStringList found = plugins.entryList(
            {QStringLiteral("libq%1.so").arg(name), QStringLiteral("libq%1-*.so").arg(name)},
            QDir::Files);
        if (!found.isEmpty())
            return;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
}

void setWindowIconFromBundle(QApplication &application, const MainBundle &bundle)
{
    QString name = bundle.infoValue(QStringLiteral("CFBundleIconFile")).toString();
    if (name.isEmpty())
        return;
    if (name.endsWith(QStringLiteral(".icns")))
        name.chop(5);
    const QString path = bundle.pathForResource(name, QStringLiteral("icns"));
    if (path.isEmpty())
        return;
    const QIcon icon(path);
    if (!icon.isNull())
        application.setWindowIcon(icon);
}

} // namespace platform
