#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The installed desktop entries (.desktop files) of a Linux desktop, read through
// GIO so that their search folders, languages and icons are taken as the desktop
// itself takes them. A Linux desktop knows an application by its desktop entry
// the way other systems know it by its bundle.
namespace platform::desktop
{

struct DesktopEntry {
    QString id;       // desktop file id without ".desktop", e.g. "org.gnome.TextEditor"
    QString name;     // Name, in the user's language
    QString icon;     // an icon theme name or an absolute image path; empty when none
    QString filePath; // the .desktop file
    QString startupWMClass;
    // Exec split into arguments, field codes (%f, %U, ...) left out; the first is
    // the program as written, `program` the file it resolves to (empty when none).
    QStringList command;
    QString program;
};

// The entry with desktop id `id` ("org.gnome.TextEditor", ".desktop" optional),
// found in the desktop's search folders; nullopt when there is none or it is hidden.
std::optional<DesktopEntry> entryWithId(const QString &id);

// The entry in the file at `path`; nullopt when it is no readable desktop entry.
std::optional<DesktopEntry> entryAtPath(const QString &path);

// Every installed entry that the desktop would offer or run (hidden ones left out).
QList<DesktopEntry> installedEntries();

} // namespace platform::desktop
