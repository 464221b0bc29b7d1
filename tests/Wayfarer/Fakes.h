#pragma once

#include "Alerts.h"
#include "MainBundle.h"
#include "OpenService.h"
#include "User.h"

#include <QFileInfo>
#include <QStringList>

// Stand-ins for the platform services. They write into one shared log, so a test
// can see what happened in which order ("open <path>", "url <url>", "alert <text>").
namespace wayfarer_test
{

class FakeMainBundle : public platform::MainBundle
{
  public:
    explicit FakeMainBundle(QString path) : m_path(std::move(path)) {}
    QString bundlePath() const override { return m_path; }
    QString pathForResource(const QString &name, const QString &type) const override
    {
        const QString path = m_path + "/Contents/Resources/" + name + "." + type;
        return QFileInfo::exists(path) ? path : QString();
    }
    QString displayName() const override { return QFileInfo(m_path).completeBaseName(); }
    QVariant infoValue(const QString &) const override { return {}; }

  private:
    QString m_path;
};

class FakeUser : public platform::User
{
  public:
    explicit FakeUser(QString home) : m_home(std::move(home)) {}
    QString loginName() const override { return QStringLiteral("learner"); }
    QString homeDirectory() const override { return m_home; }

  private:
    QString m_home;
};

// Answers like an honest opener: yes only for an existing file when an application
// would start (`willStart`).
class FakeOpenService : public platform::OpenService
{
  public:
    explicit FakeOpenService(QStringList &log) : m_log(log) {}
    bool openFile(const QString &path) override
    {
        m_log.append("open " + path);
        return willStart && QFileInfo::exists(path);
    }
    bool openURL(const QUrl &url) override
    {
        m_log.append("url " + url.toString());
        return willStart;
    }
    bool willStart = true;

  private:
    QStringList &m_log;
};

class FakeAlerts : public platform::Alerts
{
  public:
    explicit FakeAlerts(QStringList &log) : m_log(log) {}
    void beginSheet(QWidget *, const platform::AlertText &text, std::function<void()>) override
    {
        m_log.append("sheet " + text.messageText);
    }
    void runModal(QWidget *window, const platform::AlertText &text) override
    {
        m_log.append("alert " + text.messageText);
        windows.append(window);
        buttons.append(text.button);
        informativeTexts.append(text.informativeText);
    }
    QStringList buttons;
    QStringList informativeTexts;
    QList<QWidget *> windows;

  private:
    QStringList &m_log;
};

} // namespace wayfarer_test
