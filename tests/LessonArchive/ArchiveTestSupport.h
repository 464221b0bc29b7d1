#pragma once

#include "LessonArchiveDelegate.h"
#include "QtPrinters.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>


// Shared by the LessonArchive tests: a delegate that writes down what it is told,
// and the second implementations (Python's zipfile, Info-ZIP) run as child processes.
namespace archivetest
{

using Message = LessonArchiveDelegate::Message;

class RecordingDelegate : public LessonArchiveDelegate
{
  public:
    bool respondsTo(Message message) const override { return taken.contains(message); }
    void ErrorMessage(const QString &message) override { errors.append(message); }
    bool OverWriteOperation(const QString &path) override
    {
        asked.append(path);
        return answer;
    }
    void ExtractionProgress(int done, int total) override { progress.append({done, total}); }
    void ExtractionComplete() override { ++completions; }

    QSet<Message> taken{Message::ErrorMessage, Message::OverWriteOperation,
                        Message::ExtractionProgress, Message::ExtractionComplete};
    bool answer = true;
    QStringList errors;
    QStringList asked;
    QList<QPair<int, int>> progress;
    int completions = 0;
};

struct ToolRun {
    bool ok = false; // started and exited with status 0
    QByteArray output;
};

// Runs `program` with `arguments` in `folder` (the current one when empty).
ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder = {});

// Makes archive `kind` (see make_archive.py) at `out`; true on success.
bool makeArchive(const QString &kind, const QString &out, const QString &argument = {});

// An archive written by Python's zipfile holding `entries` (name, text; a null
// text makes a folder entry), with method "stored", "deflated" or "bzip2".
bool makePythonArchive(const QString &out, const QString &method,
                       const QList<QPair<QString, QString>> &entries);

// What Python's zipfile reads from `archive`: one object per entry with "name",
// "flag", "date_time", "method" and "size"; empty when it cannot read it.
QJsonArray inspectArchive(const QString &archive);

// The files and folders below `root`: relative path, then "dir" or the content.
QStringList tree(const QString &root);

} // namespace archivetest
