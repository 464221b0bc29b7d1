#pragma once

#include <QByteArray>

#include <cstdlib>
#include <unistd.h>

// Paths as the file system gives them, bytes that need not be text: a name that
// is no valid UTF-8 passes through these unchanged.

// `path` ending in one "/" (more when it had more).
inline QByteArray withTrailingSlash(QByteArray path)
{
    if (!path.endsWith('/'))
        path += '/';
    return path;
}

// `path` without the "/"s at its end; "/" itself stays.
inline QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// A relative `path` taken from the working folder, read as bytes; an absolute one
// as it is. Either way without the "/"s at its end.
inline QByteArray absolutePath(const QByteArray &path)
{
    if (path.startsWith('/'))
        return withoutTrailingSlashes(path);
    char *here = ::getcwd(nullptr, 0);
    const QByteArray folder(here ? here : "");
    std::free(here);
    return withoutTrailingSlashes(withTrailingSlash(folder) + path);
}
