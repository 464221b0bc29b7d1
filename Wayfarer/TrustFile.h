#pragma once

#include <QByteArray>

// The browser plug-in's per-user trust folder and our file in it. The plug-in reads
// every file there as a list of trusted folders, one absolute path per line, each
// ending in a line feed. Other programs write there too, so the file is handled as
// bytes and only ever appended to.
namespace wayfarer::TrustFile
{

// The paths are file-system bytes, as the system names them: a home or lesson folder
// whose name is not UTF-8 is written as it is, and still names that folder.

// <home>/Library/Preferences/Tamarind/Glimmer Player/#Security/GlimmerPlayerTrust
QByteArray trustFolderPath(const QByteArray &homeDirectory);

// <trust folder>/brindle_local.cfg
QByteArray trustFilePath(const QByteArray &trustFolder);

// The lesson's content folder as the plug-in must see it: <lesson folder>/pagewright_files
QByteArray trustEntry(const QByteArray &lessonFolder);

// Makes sure `entry` is a line of the trust file in `trustFolder`, creating the
// folder with every missing folder above it. A line counts when it is exactly
// `entry`, or `entry` and a carriage return (a line end written as CRLF); a longer
// line that merely contains it does not. The file is read piece by piece in memory
// that does not grow with its size, then appended to, a line feed first when its
// last line is unfinished. False only when the folder was missing and could not be
// made; a file that cannot be created, read or appended to is left as it is and
// still counts as success, since the lesson is launched either way.
bool addEntry(const QByteArray &trustFolder, const QByteArray &entry);

} // namespace wayfarer::TrustFile
