#include "tools/FileWalk.h"

#include "naming/NamePolicy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace lessonpack
{

namespace
{

bool statNoFollow(const QString &path, struct stat &st)
{
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Opening is the only honest test: permission bits, ACLs and the like all have a say.
bool canReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

bool canListFolder(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | X_OK) == 0;
}

bool checkFile(const QString &path, const struct stat &st, QString &why)
{
    if (S_ISLNK(st.st_mode)) {
        why = QStringLiteral("%1 is a symbolic link; put the file itself there").arg(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = QStringLiteral("%1 is not a regular file or folder").arg(path);
        return false;
    }
    if (!canReadFile(path)) {
        why = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    return true;
}

// The names in a folder as the file system holds them: a QString would hide a
// name that is not UTF-8 behind replacement characters.
bool listFolder(const QString &folder, QList<QByteArray> &names)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(QFile::encodeName(folder).constData()),
                                                   &::closedir);
    if (!dir)
        return false;
    while (const dirent *item = ::readdir(dir.get())) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    std::sort(names.begin(), names.end());
    return true;
}

// A path for a message of one line: control characters, and every byte beyond
// ASCII of a name that is not UTF-8, written as \xNN.
QString printable(const QByteArray &path)
{
    const bool utf8 = path.isValidUtf8();
    QByteArray shown;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8))
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    return QString::fromUtf8(shown);
}

bool checkName(const QString &folder, const QByteArray &name, QString &why)
{
    const QString problem = NamePolicy::entryNameProblem(name);
    if (problem.isEmpty())
        return true;
    why = QStringLiteral("%1: %2; rename it")
              .arg(printable(QFile::encodeName(folder) + '/' + name), problem);
    return false;
}

// Links listed in one refusal; past that many the rest are counted.
constexpr qsizetype kLinksListed = 20;

// One walk below a folder: its entries, its links when they are listed, and the
// folders it is inside of, so that a followed link back into one of them is caught.
class Walk
{
  public:
    Walk(QList<PackEntry> &entries, QString &why, const WalkOptions &options)
        : m_entries(entries), m_why(why), m_options(options)
    {
    }

    bool folder(const QString &folder, const QString &prefix, const struct stat &st);
    // Fails when links were listed on the way.
    bool finish();

  private:
    bool item(const QDir &dir, const QByteArray &rawName, const QString &prefix);
    bool followLink(const QString &path, struct stat &st);

    QList<PackEntry> &m_entries;
    QString &m_why;
    const WalkOptions &m_options;
    QStringList m_links;
    QList<std::pair<dev_t, ino_t>> m_inside;
};

bool Walk::folder(const QString &folder, const QString &prefix, const struct stat &st)
{
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    if (m_inside.contains(id)) {
        m_why = QStringLiteral("%1 leads back into a folder that holds it (a loop)").arg(folder);
        return false;
    }
    QList<QByteArray> names;
    if (!canListFolder(folder) || !listFolder(folder, names)) {
        m_why = QStringLiteral("cannot read the folder %1").arg(folder);
        return false;
    }
    m_inside.append(id);
    const QDir dir(folder);
    for (const QByteArray &rawName : names) {
        if (!item(dir, rawName, prefix))
            return false;
    }
    m_inside.removeLast();
    return true;
}

bool Walk::item(const QDir &dir, const QByteArray &rawName, const QString &prefix)
{
    const QString folder = dir.path();
    if (m_options.skipLitter && NamePolicy::isDesktopLitter(rawName)) {
        if (m_options.skipped)
            m_options.skipped(printable(QFile::encodeName(folder) + '/' + rawName));
        return true;
    }
    if (!checkName(folder, rawName, m_why))
        return false;
    const QString name = QString::fromUtf8(rawName);
    const QString path = dir.filePath(name);
    const QString entryName = prefix + QLatin1Char('/') + name;
    struct stat st {
    };
    if (!statNoFollow(path, st)) {
        m_why = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    if (S_ISLNK(st.st_mode) && m_options.links == Links::Listed) {
        m_links.append(path);
        return true;
    }
    if (S_ISLNK(st.st_mode) && m_options.links == Links::Followed && !followLink(path, st))
        return false;
    if (S_ISDIR(st.st_mode))
        return this->folder(path, entryName, st);
    if (!checkFile(path, st, m_why))
        return false;
    m_entries.append({path, entryName});
    return true;
}

// `st` becomes what the link at `path` points to, through any further links.
bool Walk::followLink(const QString &path, struct stat &st)
{
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return true;
    const int error = errno;
    if (error == ELOOP)
        m_why = QStringLiteral("%1 is a symbolic link that loops").arg(path);
    else if (error == ENOENT || error == ENOTDIR)
        m_why = QStringLiteral("%1 is a symbolic link to nothing (%2)")
                    .arg(path, QFileInfo(path).symLinkTarget());
    else
        m_why = QStringLiteral("cannot read what %1 points to").arg(path);
    return false;
}

bool Walk::finish()
{
    if (m_links.isEmpty())
        return true;
    QStringList lines{
        QStringLiteral("refusing %1 symbolic link%2 (--dereference, or -L, packs what each "
                       "points to; or put the files themselves there):")
            .arg(m_links.size())
            .arg(m_links.size() == 1 ? "" : "s")};
    for (const QString &link : m_links.first(std::min(m_links.size(), kLinksListed)))
        lines.append(QStringLiteral("  ") + link);
    if (m_links.size() > kLinksListed)
        lines.append(QStringLiteral("  ... and %1 more").arg(m_links.size() - kLinksListed));
    m_why = lines.join(QLatin1Char('\n'));
    return false;
}

} // namespace

bool collectFiles(const QString &root, const QString &prefix, QList<PackEntry> &entries,
                  QString &why, const WalkOptions &options)
{
    // The folder itself may be reached through a link; only what lies inside is checked.
    struct stat st {
    };
    if (::stat(QFile::encodeName(root).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = QStringLiteral("%1 is not a folder").arg(root);
        return false;
    }
    Walk walk(entries, why, options);
    return walk.folder(QDir(root).absolutePath(), prefix, st) && walk.finish();
}

bool collectFile(const QString &source, const QString &name, QList<PackEntry> &entries,
                 QString &why)
{
    struct stat st {
    };
    if (!statNoFollow(source, st)) {
        why = QStringLiteral("%1 does not exist").arg(source);
        return false;
    }
    if (!checkFile(source, st, why))
        return false;
    entries.append({QFileInfo(source).absoluteFilePath(), name});
    return true;
}

} // namespace lessonpack
