#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <ostream>

// The hostile archives, made at test time by make_hostile.py into a world folder:
//   <world>/outside/   sentinel files an escape would change
//   <world>/cases/     the archives and manifest.json
//   <world>/runs/      one folder per extraction, holding its destination
namespace hostile
{

struct Plant {
    QString path;   // below the destination
    QString kind;   // "symlink", "hardlink" or "fifo"
    QString target; // below the world folder
};

struct Case {
    QString name;
    QString what;
    QString archive;  // absolute path
    QString outcome;  // "extracted", "refused" or "unopenable"
    QString message;  // the refusal text
    QString password; // given to the extraction when not empty
    bool early = false;
    bool endToEnd = false;
    QMap<QString, QString> files; // relative path -> sha256 hex
    QList<Plant> plants;
};

std::ostream &operator<<(std::ostream &out, const Case &c);

// Makes the world folder and runs the generator; false (with a reason on stderr)
// when that fails.
bool prepare();
QString world();
QList<Case> cases();
QList<Case> endToEndCases();

// Puts the plants into `destination`, which is made first.
bool plant(const QString &destination, const QList<Plant> &plants);

} // namespace hostile
