#pragma once

#include "Alerts.h"
#include "MainBundle.h"
#include "MainThread.h"
#include "OpenService.h"
#include "QtMainThread.h"
#include "TemporaryDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

// Small stand-ins for the platform services, so the controller's tests decide what
// the bundle holds, where the temporary folder is and what opening a file does.
namespace fakes
{

class MainBundle : public platform::MainBundle
{
  public:
    QString bundle; // the bundle folder
    QString displayNameValue;
    QString archive; // path answered for "archive"."zip"; empty: none

    QString bundlePath() const override { return bundle; }
    QString pathForResource(const QString &name, const QString &type) const override
    {
        if (name == QLatin1String("archive") && type == QLatin1String("zip"))
            return archive;
        return {};
    }
    QString displayName() const override { return displayNameValue; }
    QVariant infoValue(const QString &) const override { return {}; }
};

class TemporaryDirectory : public platform::TemporaryDirectory
{
  public:
    QString folder; // with its trailing "/", or empty for "no safe folder"
    QByteArray path() const override { return QFile::encodeName(folder); }
    // The extraction makes the folders itself; there is nothing to check here.
    bool makePrivateFolders(const QByteArray &) const override { return !folder.isEmpty(); }
};

// Opens only what exists, as the real service does, and remembers each request.
class OpenService : public platform::OpenService
{
  public:
    QStringList opened;
    std::function<void()> whenOpening; // runs where the real service would start it
    bool openFile(const QString &path) override
    {
        opened << path;
        if (whenOpening)
            whenOpening();
        return QFileInfo::exists(path);
    }
    bool openURL(const QUrl &) override { return false; }
};

struct Sheet {
    QWidget *window = nullptr;
    platform::AlertText text;
    std::function<void()> didEnd;
};

// Keeps each sheet; a test presses its button by calling didEnd.
class Alerts : public platform::Alerts
{
  public:
    std::vector<Sheet> sheets;
    void beginSheet(QWidget *window, const platform::AlertText &text,
                    std::function<void()> didEnd) override
    {
        sheets.push_back({window, text, std::move(didEnd)});
    }
    void runModal(QWidget *window, const platform::AlertText &text) override
    {
        sheets.push_back({window, text, {}});
    }
};

// The real hand-over, counted.
class MainThread : public platform::MainThread
{
  public:
    std::atomic<int> handOvers{0};
    void runAndWait(const std::function<void()> &work) override
    {
        ++handOvers;
        m_real.runAndWait(work);
    }
    void beginHandOvers() override { m_real.beginHandOvers(); }
    void endHandOvers() override { m_real.endHandOvers(); }

  private:
    platform::QtMainThread m_real;
};

} // namespace fakes
