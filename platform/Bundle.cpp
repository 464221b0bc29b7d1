#include "platform/Bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <climits>
#include <memory>

#include <unistd.h>

namespace platform::bundle
{

namespace
{

QVariant toVariant(plist_t node);

QVariantMap dictToMap(plist_t dict)
{
    QVariantMap map;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    char *key = nullptr;
    plist_t value = nullptr;
    for (plist_dict_next_item(dict, it, &key, &value); key;
         plist_dict_next_item(dict, it, &key, &value)) {
        map.insert(QString::fromUtf8(key), toVariant(value));
        free(key);
        key = nullptr;
    }
    free(it);
    return map;
}

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        char *text = nullptr;
        plist_get_string_val(node, &text);
        const QString value = QString::fromUtf8(text);
        free(text);
        return value;
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t n = 0;
        plist_get_uint_val(node, &n);
        return QVariant::fromValue<qulonglong>(n);
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            list.append(toVariant(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_DICT:
        return dictToMap(node);
    default:
        return {};
    }
}

} // namespace

QString bundlePathForExecutable(const QString &executablePath)
{
    const QFileInfo exe(executablePath);
    QDir macos = exe.absoluteDir();
    QDir contents = macos;
    if (macos.dirName() == QLatin1String("MacOS") && contents.cdUp() &&
        contents.dirName() == QLatin1String("Contents")) {
        QDir app = contents;
        if (app.cdUp() && app.dirName().endsWith(QLatin1String(".app")))
            return app.absolutePath();
    }
    return exe.absolutePath();
}

QByteArray runningBundlePath()
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target);
    if (n <= 0)
        return {};
    QByteArray folder(target, n);
    folder.truncate(folder.lastIndexOf('/'));
    const QByteArray inBundle = "/Contents/MacOS";
    const QByteArray bundle = folder.chopped(qMin(folder.size(), inBundle.size()));
    return folder.endsWith(inBundle) && bundle.endsWith(".app") ? bundle : folder;
}

QString resourcePath(const QString &bundlePath, const QString &name, const QString &type)
{
    const QDir resources(bundlePath + QLatin1String("/Contents/Resources"));
    if (name.isEmpty()) {
        const QStringList found =
            resources.entryList({QLatin1String("*.") + type},
                                QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        return found.isEmpty() ? QString() : resources.filePath(found.first());
    }
    const QString path = resources.filePath(type.isEmpty() ? name : name + '.' + type);
    return QFileInfo::exists(path) ? path : QString();
}

QString displayName(const QString &bundlePath)
{
    QString name = QFileInfo(bundlePath).fileName();
    if (name.endsWith(QLatin1String(".app")))
        name.chop(4);
    return name;
}

QVariantMap infoDictionary(const QString &bundlePath)
{
    QFile file(bundlePath + QLatin1String("/Contents/Info.plist"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return infoDictionaryFromData(file.readAll());
}

QVariantMap infoDictionaryFromData(const QByteArray &data)
{
    plist_t root = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
    if (!root)
        return {};
    std::unique_ptr<void, decltype(&plist_free)> owner(root, &plist_free);
    return plist_get_node_type(root) == PLIST_DICT ? dictToMap(root) : QVariantMap();
}

QVariantMap infoDictionaryFromDescriptor(int fd)
{
    constexpr qint64 kMostInfoBytes = qint64{1} << 20;
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    return infoDictionaryFromData(file.read(kMostInfoBytes));
}

QString executablePath(const QString &bundlePath)
{
    const QString executable = infoDictionary(bundlePath).value("CFBundleExecutable").toString();
    if (executable.isEmpty())
        return {};
    return bundlePath + QLatin1String("/Contents/MacOS/") + executable;
}

} // namespace platform::bundle
