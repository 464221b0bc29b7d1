#pragma once

#include <QByteArray>
#include <QString>

// The browser plug-in's per-user trust folder and our file in it. The plug-in reads
// every file there as a list of trusted folders, one absolute path per line, each
// ending in a line feed. Other programs write there too, so the file is handled as
// bytes and only ever appended to.
namespace wayfarer::TrustFile
{

// <home>/Library/Preferences/Tamarind/Glimmer Player/#Security/GlimmerPlayerTrust
QString trustFolderPath(const QString &homeDirectory);

// <trust folder>/brindle_local.cfg
QString trustFilePath(const QString &trustFolder);

// The lesson's content folder as the plug-in must see it: <lesson folder>/pagewright_files
// in the file system's own bytes.
QByteArray trustEntry(const QString &lessonFolder);

// True when one of the file's lines is exactly `entry`, or `entry` and a carriage
// return (a line end written as CRLF). A longer line that merely contains it (the
// same path below further folders) does not count.
bool containsLine(const QByteArray &content, const QByteArray &entry);

// What to append so that `entry` becomes a line of its own after `content`: a line
// feed first when the last line is unfinished.
QByteArray appendixFor(const QByteArray &content, const QByteArray &entry);

// Makes sure `entry` is a line of the trust file in `trustFolder`, creating the
// folder with every missing folder above it. False only when the folder was missing
// and could not be made; a file that cannot be created, read or appended to is left
// as it is and still counts as success, since the lesson is launched either way.
bool addEntry(const QString &trustFolder, const QByteArray &entry);

} // namespace wayfarer::TrustFile
