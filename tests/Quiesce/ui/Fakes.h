#pragma once

#include "Alerts.h"
#include "ApplicationIcons.h"
#include "SystemLog.h"
#include "Workspace.h"

#include <QColor>
#include <QHash>
#include <QMutex>
#include <QPixmap>

#include <atomic>
#include <functional>

// Stand-ins for the platform services the close-applications window uses.
namespace quiesce_test
{

// Running applications as the test lays them out; the frontmost one is chosen by
// the test and may be asked from the watcher thread.
class FakeWorkspace : public platform::Workspace
{
  public:
    QList<QVariantMap> applications;

    void setFrontBundleIdentifier(const QString &identifier)
    {
        QMutexLocker lock(&mMutex);
        mFront = identifier;
    }
    QList<QVariantMap> launchedApplications() const override { return applications; }
    QVariantMap activeApplication() const override
    {
        QMutexLocker lock(&mMutex);
        ++frontQuestions;
        return {{QStringLiteral("NSApplicationBundleIdentifier"), mFront}};
    }
    void activateIgnoringOtherApps() override { ++activations; }
    // No windows unless the test hands the question on.
    bool requestClose(int pid) override { return closeRequest ? closeRequest(pid) : false; }
    std::function<bool(int)> closeRequest;
    QList<QString> mountedLocalVolumePaths() const override { return {}; }
    bool fileSystemInfo(const QString &, bool *, bool *) const override { return false; }

    mutable std::atomic<int> frontQuestions{0};
    std::atomic<int> activations{0};

  private:
    mutable QMutex mMutex;
    QString mFront;
};

// One plain-coloured icon per known bundle; a grey generic icon for the rest.
class FakeApplicationIcons : public platform::ApplicationIcons
{
  public:
    FakeApplicationIcons() : generic(iconOf(Qt::gray)) {}
    static QIcon iconOf(const QColor &colour)
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(colour);
        return QIcon(pixmap);
    }
    void add(const QString &bundlePath, const QColor &colour)
    {
        bundles.insert(bundlePath, iconOf(colour));
    }
    QIcon iconForBundle(const QString &bundlePath) const override
    {
        return bundles.value(bundlePath);
    }
    QIcon genericApplicationIcon() const override { return generic; }

    QHash<QString, QIcon> bundles;
    QIcon generic;
};

class FakeAlerts : public platform::Alerts
{
  public:
    void beginSheet(QWidget *, const platform::AlertText &text,
                    std::function<void()> didEnd) override
    {
        shown.append(text);
        didEnd();
    }
    void runModal(QWidget *, const platform::AlertText &text) override
    {
        shown.append(text);
        if (whileShown)
            whileShown();
    }
    QList<platform::AlertText> shown;
    std::function<void()> whileShown;
};

class FakeSystemLog : public platform::SystemLog
{
  public:
    void error(const char *message) override { lines.append(QString::fromUtf8(message)); }
    QStringList lines;
};

} // namespace quiesce_test
