#include "tools/LessonPacker.h"

#include "platform/Bundle.h"
#include "tools/BundleCopy.h"
#include "tools/FileWalk.h"
#include "tools/LessonName.h"
#include "tools/PackArchive.h"
#include "tools/PlaceIntoOutput.h"
#include "tools/Progress.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace lessonpack
{

namespace
{

const QString kContentFolderName = QStringLiteral("pagewright_files");
const QString kStartPage = QStringLiteral("index.html");
const QString kWayfarerName = QStringLiteral("Wayfarer.app");
const QString kInstallerEntry =
    QStringLiteral("Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg");
const QString kArchiveInBundle = QStringLiteral("Contents/Resources/archive.zip");

bool isRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

bool checkBundle(const QString &bundle, const QString &what, QString &why)
{
    const QString executable = platform::bundle::executablePath(bundle);
    if (QFileInfo(bundle).isDir() && !executable.isEmpty() && QFileInfo(executable).isExecutable())
        return true;
    why = QStringLiteral("%1 is not a built %2 bundle (give its path with --%3)")
              .arg(bundle, what, what.toLower());
    return false;
}

// The folder `path` names, with links resolved as far as it exists.
QString resolvedFolder(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

bool isInside(const QString &path, const QString &folder)
{
    const QString prefix = resolvedFolder(folder) + QLatin1Char('/');
    return (resolvedFolder(path) + QLatin1Char('/')).startsWith(prefix);
}

bool checkRequest(const PackRequest &request, QString &why)
{
    why = lessonNameProblem(request.lessonName);
    if (!why.isEmpty())
        return false;
    if (!QFileInfo(request.contentFolder).isDir()) {
        why = QStringLiteral("%1 is not a folder").arg(request.contentFolder);
        return false;
    }
    if (!isRegularFile(QDir(request.contentFolder).filePath(kStartPage))) {
        why = QStringLiteral("%1 has no start page %2").arg(request.contentFolder, kStartPage);
        return false;
    }
    // Packing into the content folder would pack the previous lesson into the next.
    if (isInside(request.outputFolder, request.contentFolder)) {
        why = QStringLiteral("the output folder %1 lies inside the content folder")
                  .arg(request.outputFolder);
        return false;
    }
    const QString target = QDir(request.outputFolder).filePath(request.lessonName + ".app");
    if (!request.replace && (QFileInfo::exists(target) || QFileInfo(target).isSymLink())) {
        why = QStringLiteral("%1 already exists (use --replace to replace it)").arg(target);
        return false;
    }
    return checkBundle(request.unspoolBundle, QStringLiteral("Unspool"), why) &&
           checkBundle(request.wayfarerBundle, QStringLiteral("Wayfarer"), why);
}

bool isInstallerEntry(const PackEntry &entry)
{
    return entry.name == kInstallerEntry || entry.name.startsWith(kInstallerEntry + '/');
}

// An installer package may be a flat file or a folder (a bundle package).
bool collectInstaller(const QString &installer, QList<PackEntry> &entries, QString &why,
                      const WalkOptions &options)
{
    if (QFileInfo(installer).isDir())
        return collectFiles(installer, kInstallerEntry, entries, why, options);
    return collectFile(installer, kInstallerEntry, entries, why);
}

bool planEntries(const PackRequest &request, QList<PackEntry> &entries, QString &why)
{
    // Unspool.app is copied rather than packed, but it is checked the same way up
    // front, so that the copy cannot fail half-way on a link or a special file.
    QList<PackEntry> unspoolFiles;
    if (!collectFiles(request.unspoolBundle, QString(), unspoolFiles, why))
        return false;
    if (!collectFiles(request.wayfarerBundle, kWayfarerName, entries, why))
        return false;
    // What authors hand in may carry their desktop's litter; the built bundles do not.
    const WalkOptions authored{!request.keepAll, request.skipped,
                               request.dereference ? Links::Followed : Links::Listed};
    if (!request.installer.isEmpty()) {
        // The package given replaces whatever package the built bundle carries.
        entries.removeIf(isInstallerEntry);
        if (!collectInstaller(request.installer, entries, why, authored))
            return false;
    }
    const qsizetype launcherFiles = entries.size();
    if (!collectFiles(request.contentFolder, kContentFolderName, entries, why, authored))
        return false;
    std::for_each(entries.begin() + launcherFiles, entries.end(),
                  [](PackEntry &entry) { entry.lessonFile = true; });
    std::sort(entries.begin(), entries.end(),
              [](const PackEntry &a, const PackEntry &b) { return a.name < b.name; });
    return true;
}

bool buildBundle(const PackRequest &request, const QList<PackEntry> &entries, const QString &staged,
                 Progress &progress, QString &why)
{
    if (!copyTree(request.unspoolBundle, staged, kArchiveInBundle, why))
        return false;
    const QString archive = QDir(staged).filePath(kArchiveInBundle);
    if (!QDir().mkpath(QFileInfo(archive).path())) {
        why = QStringLiteral("cannot create %1").arg(QFileInfo(archive).path());
        return false;
    }
    return writePackArchive(entries, archive, progress, request.stop, why);
}

// Creates the output folder and whatever folders above it are missing; unless told
// to keep them, removes again those it made (as long as they are empty).
class OutputFolder
{
  public:
    explicit OutputFolder(const QString &path)
        : m_path(QDir::cleanPath(QFileInfo(path).absoluteFilePath()))
    {
        for (QString folder = m_path; !QFileInfo::exists(folder); folder = QFileInfo(folder).path())
            m_made.append(folder);
    }
    ~OutputFolder()
    {
        if (m_keep)
            return;
        for (const QString &folder : m_made)
            QDir().rmdir(folder);
    }
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    bool create() { return QDir().mkpath(m_path); }
    void keep() { m_keep = true; }

  private:
    QString m_path;
    QStringList m_made; // deepest first
    bool m_keep = false;
};

} // namespace

bool packLesson(const PackRequest &request, Progress &progress, QString &written, QString &why)
{
    QList<PackEntry> entries;
    if (!checkRequest(request, why) || !planEntries(request, entries, why))
        return false;
    OutputFolder outputFolder(request.outputFolder);
    if (!outputFolder.create()) {
        why = QStringLiteral("cannot create the output folder %1").arg(request.outputFolder);
        return false;
    }
    // Removed with everything in it when this function returns.
    QTemporaryDir staging(
        QDir(request.outputFolder).filePath(QStringLiteral(".lesson-pack-XXXXXX")));
    if (!staging.isValid()) {
        why = QStringLiteral("cannot create a staging folder in %1").arg(request.outputFolder);
        return false;
    }
    const QString bundleName = request.lessonName + QStringLiteral(".app");
    const QString staged = staging.filePath(bundleName);
    if (!buildBundle(request, entries, staged, progress, why))
        return false;
    if (request.stop && *request.stop) {
        why = QStringLiteral("interrupted");
        return false;
    }
    const QString target = QDir(request.outputFolder).filePath(bundleName);
    if (!placeIntoOutput(staged, target, request.replace, staging.filePath("replaced"), why))
        return false;
    outputFolder.keep();
    written = QFileInfo(target).absoluteFilePath();
    return true;
}

} // namespace lessonpack
