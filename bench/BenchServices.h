#pragma once

#include "platform/Alerts.h"
#include "platform/MainBundle.h"
#include "platform/OpenService.h"
#include "platform/TemporaryDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QVariant>

// The platform services Unspool's controller takes, reduced to what a timed run
// needs: the bundle answers with the lesson to time, opening the launcher only
// records that it was asked for, and an alert is remembered instead of shown.
namespace bench
{

struct Bundle : platform::MainBundle {
    QString archive;
    QString lessonName;
    QString bundlePath() const override { return QFileInfo(archive).path(); }
    QString pathForResource(const QString &name, const QString &type) const override
    {
        return name == "archive" && type == "zip" ? archive : QString();
    }
    QString displayName() const override { return lessonName; }
    QVariant infoValue(const QString &) const override { return {}; }
};

struct Temporary : platform::TemporaryDirectory {
    QString folder; // ends in "/"
    QByteArray path() const override { return QFile::encodeName(folder); }
    bool makePrivateFolders(const QByteArray &) const override { return true; }
};

struct Opener : platform::OpenService {
    bool asked = false;
    bool openFile(const QString &) override
    {
        asked = true;
        return true;
    }
    bool startProgram(int, const QByteArray &) override
    {
        asked = true;
        return true;
    }
    bool openURL(const QUrl &) override { return false; }
};

struct Alerts : platform::Alerts {
    QString shown;
    void beginSheet(QWidget *, const platform::AlertText &text, std::function<void()>) override
    {
        shown = text.informativeText;
    }
    void runModal(QWidget *, const platform::AlertText &text) override
    {
        shown = text.informativeText;
    }
};

} // namespace bench
