#include "LinuxMainBundle.h"

#include "Bundle.h"

#include <QFileInfo>

namespace platform {

LinuxMainBundle::LinuxMainBundle()
    : m_bundlePath(bundle::bundlePathForExecutable(QFileInfo("/proc/self/exe").symLinkTarget()))
{
}

LinuxMainBundle::LinuxMainBundle(QString bundlePath) : m_bundlePath(std::move(bundlePath)) {}

QString LinuxMainBundle::pathForResource(const QString &name, const QString &type) const
{
    return bundle::resourcePath(m_bundlePath, name, type);
}

QString LinuxMainBundle::displayName() const
{
    return bundle::displayName(m_bundlePath);
}

QVariant LinuxMainBundle::infoValue(const QString &key) const
{
    return bundle::infoDictionary(m_bundlePath).value(key);
}

} // namespace platform
