#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

// Folder creation with all missing folders above it.
namespace CreateDirectoriesWithIntermediates
{

// Attribute key honoured by folder creation: the POSIX mode (an integer).
inline constexpr char kPosixPermissionsKey[] = "NSFilePosixPermissions";

// With intermediates, every component is created in turn from the root: a relative
// path is taken as if it began with "/", backslashes count as separators, empty
// components are dropped, and anything that already exists (a file as well as a
// folder) is passed over. Returns false only for a missing path or a folder that
// could not be made; folders made before that stay. Without intermediates, it is a
// single mkdir. `error` is never written; it exists so callers can pass one.
bool createDirectoryAtPath(const QString &path, bool withIntermediateDirectories,
                           const QVariantMap *attributes = nullptr, QString *error = nullptr);

// The same on a path given as file-system bytes.
bool createDirectoryAtPath(const QByteArray &path, bool withIntermediateDirectories,
                           const QVariantMap *attributes = nullptr, QString *error = nullptr);

// The one-level step for a walk that holds each folder open: opens the folder
// `name` inside the folder open at `parentFd`, making it there first when it is
// missing, and returns its descriptor (O_CLOEXEC, the caller closes it), or -1.
// Both the making and the opening are relative to `parentFd` and never follow a
// link, so a link swapped in anywhere on the way makes the step fail instead of
// leading elsewhere; so does anything else that is not a folder. `attributes` as
// above, for a folder that it makes.
int openOrCreateDirectoryAt(int parentFd, const QByteArray &name,
                            const QVariantMap *attributes = nullptr);

} // namespace CreateDirectoriesWithIntermediates
