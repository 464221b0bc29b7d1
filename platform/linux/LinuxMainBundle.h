#pragma once

#include "MainBundle.h"

namespace platform {

// The bundle of the running executable (/proc/self/exe), or of an explicit path.
class LinuxMainBundle : public MainBundle {
public:
    LinuxMainBundle();
    explicit LinuxMainBundle(QString bundlePath);
    QString bundlePath() const override { return m_bundlePath; }
    QString pathForResource(const QString &name, const QString &type) const override;
    QString displayName() const override;
    QVariant infoValue(const QString &key) const override;

private:
    QString m_bundlePath;
};

} // namespace platform
