// The only file that speaks GIO: it is built without Qt's keywords, which clash
// with GLib's headers.
#include "platform/linux/DesktopEntries.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gio/gdesktopappinfo.h>

#include <memory>

namespace platform::desktop
{

namespace
{

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfoPtr = std::unique_ptr<GDesktopAppInfo, ObjectUnref>;

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

QString taken(char *text)
{
    QString result = fromUtf8(text);
    g_free(text);
    return result;
}

// Exec as the desktop splits it; a field code stands for files or URLs the
// launcher would add, so it says nothing about the program.
QStringList commandOf(const char *exec)
{
    QStringList command;
    gchar **argv = nullptr;
    if (!exec || !g_shell_parse_argv(exec, nullptr, &argv, nullptr))
        return command;
    for (gchar **arg = argv; *arg; ++arg) {
        const QString word = QString::fromUtf8(*arg);
        if (word.size() == 2 && word.startsWith(u'%') && word != QLatin1String("%%"))
            continue;
        command.append(word);
    }
    g_strfreev(argv);
    return command;
}

QString resolvedProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    const QString found =
        program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
    return found.isEmpty() ? QString() : QFileInfo(found).canonicalFilePath();
}

std::optional<DesktopEntry> describe(GDesktopAppInfo *info)
{
    if (!info || g_desktop_app_info_get_is_hidden(info))
        return std::nullopt;
    GAppInfo *app = G_APP_INFO(info);
    DesktopEntry entry;
    entry.filePath = fromUtf8(g_desktop_app_info_get_filename(info));
    entry.id = fromUtf8(g_app_info_get_id(app));
    if (entry.id.isEmpty())
        entry.id = QFileInfo(entry.filePath).fileName();
    if (entry.id.endsWith(QLatin1String(".desktop")))
        entry.id.chop(8);
    entry.name = fromUtf8(g_app_info_get_name(app));
    if (GIcon *icon = g_app_info_get_icon(app))
        entry.icon = taken(g_icon_to_string(icon));
    entry.startupWMClass = fromUtf8(g_desktop_app_info_get_startup_wm_class(info));
    entry.command = commandOf(g_app_info_get_commandline(app));
    entry.program = resolvedProgram(entry.command.value(0));
    return entry;
}

} // namespace

std::optional<DesktopEntry> entryWithId(const QString &id)
{
    if (id.isEmpty())
        return std::nullopt;
    const QString fileId = id.endsWith(QLatin1String(".desktop")) ? id : id + ".desktop";
    const AppInfoPtr info(g_desktop_app_info_new(fileId.toUtf8().constData()));
    return describe(info.get());
}

std::optional<DesktopEntry> entryAtPath(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const AppInfoPtr info(
        g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData()));
    return describe(info.get());
}

QList<DesktopEntry> installedEntries()
{
    QList<DesktopEntry> entries;
    GList *all = g_app_info_get_all();
    for (GList *item = all; item; item = item->next) {
        if (G_IS_DESKTOP_APP_INFO(item->data)) {
            if (auto entry = describe(G_DESKTOP_APP_INFO(item->data)))
                entries.append(*entry);
        }
    }
    g_list_free_full(all, g_object_unref);
    return entries;
}

} // namespace platform::desktop
