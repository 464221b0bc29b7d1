#include "HostileSuite.h"

#include "ProcessRunner.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace hostile
{

namespace
{

std::unique_ptr<QTemporaryDir> sWorld;
QList<Case> sCases;

bool makeSentinels(const QString &root)
{
    return testfiles::write(root + "/outside/target.txt", "sentinel\n") &&
           testfiles::write(root + "/outside/hard.txt", "outside hard link\n") &&
           testfiles::write(root + "/outside/dir/keep.txt", "keep\n") &&
           testfiles::write(root + "/lesson-evil/keep.txt", "next door\n") &&
           QDir().mkpath(root + "/runs");
}

Case caseFrom(const QJsonObject &o, const QString &folder)
{
    Case c;
    c.name = o["name"].toString();
    c.what = o["what"].toString();
    c.archive = folder + u'/' + o["file"].toString();
    c.outcome = o["outcome"].toString();
    c.message = o["message"].toString();
    c.password = o["password"].toString();
    c.early = o["early"].toBool();
    c.endToEnd = o["e2e"].toBool();
    const QJsonObject files = o["files"].toObject();
    for (auto it = files.begin(); it != files.end(); ++it)
        c.files.insert(it.key(), it.value().toString());
    for (const QJsonValue &p : o["plants"].toArray()) {
        const QJsonObject po = p.toObject();
        c.plants.append({po["path"].toString(), po["kind"].toString(), po["target"].toString()});
    }
    return c;
}

} // namespace

std::ostream &operator<<(std::ostream &out, const Case &c)
{
    return out << c.name.toStdString() << " (" << c.what.toStdString() << ")";
}

bool prepare()
{
    sWorld = std::make_unique<QTemporaryDir>();
    const QString root = sWorld->path();
    if (!sWorld->isValid() || !makeSentinels(root))
        return false;
    const QString folder = root + "/cases";
    const platform::ProcessResult made =
        platform::runProcess("python3", {QStringLiteral(MAKE_HOSTILE), folder, root + "/outside"});
    if (!made.started || made.exitCode != 0) {
        std::fprintf(stderr, "make_hostile.py failed\n");
        return false;
    }
    const QJsonDocument manifest =
        QJsonDocument::fromJson(testfiles::read(folder + "/manifest.json"));
    for (const QJsonValue &value : manifest.array())
        sCases.append(caseFrom(value.toObject(), folder));
    return !sCases.isEmpty();
}

QString world()
{
    return sWorld ? sWorld->path() : QString();
}

QList<Case> cases()
{
    return sCases;
}

QList<Case> endToEndCases()
{
    QList<Case> picked;
    for (const Case &c : sCases) {
        if (c.endToEnd)
            picked.append(c);
    }
    return picked;
}

bool plant(const QString &destination, const QList<Plant> &plants)
{
    if (!QDir().mkpath(destination))
        return false;
    for (const Plant &p : plants) {
        const QByteArray at = QFile::encodeName(destination + u'/' + p.path);
        const QByteArray target = QFile::encodeName(world() + u'/' + p.target);
        QDir().mkpath(QFileInfo(QString::fromLocal8Bit(at)).path());
        int made = -1;
        if (p.kind == "symlink")
            made = ::symlink(target.constData(), at.constData());
        else if (p.kind == "hardlink")
            made = ::link(target.constData(), at.constData());
        else if (p.kind == "fifo")
            made = ::mkfifo(at.constData(), 0644);
        if (made != 0)
            return false;
    }
    return true;
}

} // namespace hostile
