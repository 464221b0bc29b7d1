#include "ArchiveTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "TestFiles.h"

#include <algorithm>

namespace archivetest
{

ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.output = process.readAll();
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

// Debian's own interpreter when present: it starts in a tenth of the time a
// version-manager shim takes, and the tests start it many times.
QString python()
{
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
               ? QStringLiteral("/usr/bin/python3")
               : QStringLiteral("python3");
}

bool makeArchive(const QString &kind, const QString &out, const QString &argument)
{
    QStringList arguments{QStringLiteral(MAKE_ARCHIVE_SCRIPT), kind, out};
    if (!argument.isEmpty())
        arguments.append(argument);
    return runTool(python(), arguments).ok;
}

bool makePythonArchive(const QString &out, const QString &method,
                       const QList<QPair<QString, QString>> &entries)
{
    QJsonArray list;
    for (const auto &[name, text] : entries)
        list.append(QJsonArray{name, text.isNull() ? QJsonValue() : QJsonValue(text)});
    const QJsonObject spec{{"method", method}, {"entries", list}};
    return makeArchive(QStringLiteral("entries"), out,
                       QString::fromUtf8(QJsonDocument(spec).toJson(QJsonDocument::Compact)));
}

QJsonArray inspectArchive(const QString &archive)
{
    const ToolRun run = runTool(python(), {QStringLiteral(INSPECT_ARCHIVE_SCRIPT), archive});
    return run.ok ? QJsonDocument::fromJson(run.output).array() : QJsonArray();
}

// Short text as it is, anything else by its digest.
QString describe(const QByteArray &content)
{
    const bool text =
        content.size() <= 64 &&
        std::all_of(content.begin(), content.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (text)
        return QString::fromLatin1(content);
    return QStringLiteral("sha256:") +
           QString::fromLatin1(
               QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

QStringList tree(const QString &root)
{
    return testfiles::describeTree(root, [](const QString &path) {
        const QFileInfo info(path);
        return info.isSymLink() ? QStringLiteral(": link")
               : info.isDir()   ? QStringLiteral(": dir")
                                : QStringLiteral(": ") + describe(testfiles::read(path));
    });
}

} // namespace archivetest
