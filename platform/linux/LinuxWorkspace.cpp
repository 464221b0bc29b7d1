#include "platform/linux/LinuxWorkspace.h"

#include "platform/Bundle.h"
#include "platform/linux/MountInfo.h"
#include "platform/linux/X11Session.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <algorithm>

#include <unistd.h>

namespace platform
{

namespace
{

QList<int> processIdentifiers()
{
    QList<int> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const int pid = entry.toInt(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool ownedByUs(int pid)
{
    return QFileInfo(QStringLiteral("/proc/%1").arg(pid)).ownerId() == ::getuid();
}

QList<mountinfo::Mount> currentMounts()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return mountinfo::parse(file.readAll());
}

// A partition reports removability on its disk, one folder up in sysfs.
bool onRemovableDevice(const QString &device)
{
    const QString base = QStringLiteral("/sys/dev/block/") + device;
    for (const QString &attribute : {base + "/removable", base + "/../removable"}) {
        QFile file(attribute);
        if (file.open(QIODevice::ReadOnly))
            return file.readAll().trimmed() == "1";
    }
    return false;
}

} // namespace

LinuxWorkspace::LinuxWorkspace() : m_x11(std::make_shared<X11Session>()) {}

LinuxWorkspace::~LinuxWorkspace() = default;

QList<desktop::DesktopEntry> LinuxWorkspace::installedEntries() const
{
    const std::lock_guard lock(m_entriesMutex);
    if (!m_installedEntries)
        m_installedEntries = desktop::installedEntries();
    return *m_installedEntries;
}

desktop::DesktopApplicationFinder LinuxWorkspace::finder() const
{
    return desktop::DesktopApplicationFinder(*m_x11, [this] { return installedEntries(); });
}

QVariantMap LinuxWorkspace::applicationRecord(int pid,
                                              desktop::DesktopApplicationFinder &finder) const
{
    if (const auto entry = finder.entryForProcess(pid); entry && !entry->name.isEmpty()) {
        return {{QStringLiteral("NSApplicationProcessIdentifier"), pid},
                {QStringLiteral("NSApplicationName"), entry->name},
                {QStringLiteral("NSApplicationPath"), entry->filePath},
                {QStringLiteral("NSApplicationBundleIdentifier"), entry->id}};
    }
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (executable.isEmpty())
        return {};
    const QString bundlePath = bundle::bundlePathForExecutable(executable);
    if (!bundlePath.endsWith(QLatin1String(".app")))
        return {};
    const QVariantMap info = bundle::infoDictionary(bundlePath);
    const QString name = info.value(QStringLiteral("CFBundleName")).toString();
    QVariantMap record;
    record.insert(QStringLiteral("NSApplicationProcessIdentifier"), pid);
    record.insert(QStringLiteral("NSApplicationName"),
                  name.isEmpty() ? bundle::displayName(bundlePath) : name);
    record.insert(QStringLiteral("NSApplicationPath"), bundlePath);
    const QVariant identifier = info.value(QStringLiteral("CFBundleIdentifier"));
    if (identifier.isValid())
        record.insert(QStringLiteral("NSApplicationBundleIdentifier"), identifier.toString());
    return record;
}

QList<QVariantMap> LinuxWorkspace::launchedApplications() const
{
    desktop::DesktopApplicationFinder entries = finder();
    QList<QVariantMap> records;
    for (int pid : processIdentifiers()) {
        if (!ownedByUs(pid))
            continue;
        const QVariantMap record = applicationRecord(pid, entries);
        if (!record.isEmpty())
            records.append(record);
    }
    return records;
}

QVariantMap LinuxWorkspace::activeApplication() const
{
    const std::optional<int> pid = m_x11->activeWindowProcess();
    if (!pid)
        return {};
    desktop::DesktopApplicationFinder entries = finder();
    return applicationRecord(*pid, entries);
}

bool LinuxWorkspace::requestClose(int pid)
{
    bool asked = false;
    for (quint32 window : m_x11->windowsByProcess().values(pid))
        asked = m_x11->requestClose(window) || asked;
    return asked;
}

void LinuxWorkspace::activateIgnoringOtherApps()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<QApplication *>(app))
        return;
    const std::shared_ptr<X11Session> x11 = m_x11;
    QMetaObject::invokeMethod(
        app,
        [x11] {
            const bool onX11 = QGuiApplication::platformName() == QLatin1String("xcb");
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (!window->isVisible() || window->windowType() == Qt::Popup)
                    continue;
                window->raise();
                window->activateWindow();
                if (onX11)
                    x11->requestActivation(quint32(window->winId()));
            }
        },
        Qt::QueuedConnection);
}

QList<QString> LinuxWorkspace::mountedLocalVolumePaths() const
{
    QList<QString> paths;
    for (const mountinfo::Mount &mount : currentMounts()) {
        if (mountinfo::isLocal(mount))
            paths.append(mount.mountPoint);
    }
    return paths;
}

bool LinuxWorkspace::fileSystemInfo(const QString &path, bool *writable, bool *unmountable) const
{
    // A later mount on the same point hides the earlier ones.
    const QList<mountinfo::Mount> mounts = currentMounts();
    const auto found = std::find_if(mounts.rbegin(), mounts.rend(), [&](const mountinfo::Mount &m) {
        return m.mountPoint == path;
    });
    if (found == mounts.rend())
        return false;
    *writable = !found->readOnly;
    *unmountable = onRemovableDevice(found->device);
    return true;
}

} // namespace platform
