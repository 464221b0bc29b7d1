#pragma once

#include <QFile>
#include <QString>
#include <QUrl>

namespace platform
{

// Opening documents and applications the way a file browser does.
class OpenService
{
  public:
    virtual ~OpenService() = default;
    // An application bundle starts that application; any other file opens with its
    // default application. True only when the file exists and an application was
    // started for it.
    virtual bool openFile(const QString &path) = 0;
    // The same for a path given as file-system bytes, which need not be UTF-8: a
    // QString cannot carry such a name unchanged.
    virtual bool openFileAtPath(const QByteArray &path)
    {
        return openFile(QFile::decodeName(path));
    }
    // Starts the program held open at `executableFd` (a bundle's executable the
    // caller found and checked), the way an application bundle is opened, named
    // `path` for its own display. Started from the descriptor, never by its path,
    // so nothing moved into the path meanwhile runs instead. The descriptor stays
    // the caller's.
    virtual bool startProgram(int executableFd, const QByteArray &path) = 0;
    // An http URL in the default browser.
    virtual bool openURL(const QUrl &url) = 0;
};

} // namespace platform
