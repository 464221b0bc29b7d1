#include "tools/LessonTemplate.h"

#include "icons/IcnsFile.h"
#include "tools/BundleCopy.h"
#include "tools/LessonPacker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <plist/plist.h>

namespace lessonpack
{
namespace
{

const char kLessonIcon[] = "Lesson.icns";

// Sets CFBundleIconFile in the bundle's Info.plist (XML or binary; written as XML).
bool setIconFile(const QString &bundle, QString &why)
{
    const QString path = bundle + QStringLiteral("/Contents/Info.plist");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray data = file.readAll();
    file.close();
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        if (root)
            plist_free(root);
        why = QStringLiteral("%1 is not a property list").arg(path);
        return false;
    }
    plist_dict_set_item(root, "CFBundleIconFile", plist_new_string(kLessonIcon));
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    plist_free(root);
    const QByteArray written(xml, int(length));
    plist_to_xml_free(xml);

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(written) != written.size() || !out.commit()) {
        why = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
        return false;
    }
    return true;
}

bool makeSelfContained(const QString &bundle, QString &why)
{
    const QString script = QStringLiteral(LESSON_PACK_SELF_CONTAINED_SCRIPT);
    if (!QFileInfo::exists(script)) {
        why = QStringLiteral("%1 is not self-contained, and the script that makes it so (%2) "
                             "is missing")
                  .arg(bundle, script);
        return false;
    }
    QProcess cmake;
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral(LESSON_PACK_CMAKE),
                {QStringLiteral("-DBUNDLE=") + bundle,
                 QStringLiteral("-DQT_PLUGIN_DIR=" LESSON_PACK_QT_PLUGIN_DIR), QStringLiteral("-P"),
                 script});
    if (!cmake.waitForFinished(-1) || cmake.exitStatus() != QProcess::NormalExit ||
        cmake.exitCode() != 0) {
        const QString output = QString::fromLocal8Bit(cmake.readAll()).trimmed();
        why = QStringLiteral("could not make %1 self-contained: %2")
                  .arg(bundle, output.isEmpty() ? cmake.errorString() : output.section('\n', -1));
        return false;
    }
    return true;
}

// A private copy of `template` in `scratch`, made once.
bool copyOnce(QString &bundle, const QString &scratch, QString &why)
{
    const QString copy = QDir(scratch).filePath(QFileInfo(bundle).fileName());
    if (bundle == copy)
        return true;
    if (!copyTree(bundle, copy, QString(), why))
        return false;
    bundle = copy;
    return true;
}

} // namespace

QString defaultBundleFolder()
{
    const QDir installed(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/" LESSON_PACK_INSTALLED_BUNDLE_DIR));
    if (installed.exists(QStringLiteral("Unspool.app")))
        return installed.absolutePath();
    return QStringLiteral(LESSON_PACK_BUNDLE_DIR);
}

QString starterBeside(const QString &unspool)
{
    QString beside = QFileInfo(unspool).dir().filePath(QStringLiteral("lesson-starter"));
    if (QFileInfo(beside).isFile())
        return beside;
    return QDir(defaultBundleFolder()).filePath(QStringLiteral("lesson-starter"));
}

bool isSelfContained(const QString &bundle)
{
    return QFileInfo(bundle + QStringLiteral("/Contents/Frameworks")).isDir() &&
           QFileInfo(bundle + QStringLiteral("/Contents/PlugIns/platforms")).isDir();
}

bool prepareTemplates(PackRequest &request, const TemplateChanges &changes, const QString &scratch,
                      QString &why)
{
    if (changes.selfContained) {
        for (QString *bundle : {&request.unspoolBundle, &request.wayfarerBundle}) {
            if (isSelfContained(*bundle))
                continue;
            if (!copyOnce(*bundle, scratch, why) || !makeSelfContained(*bundle, why))
                return false;
        }
    }
    if (changes.iconImage.isEmpty())
        return true;
    // Copies of their own: the self-contained copies stay the lessons' shared runtime.
    // Both windows a learner sees, the unpacking one and the setup one, show the icon.
    const QString withIcon = QDir(scratch).filePath(QStringLiteral("with-icon"));
    if (!QDir().mkpath(withIcon)) {
        why = QStringLiteral("cannot make the folder %1").arg(withIcon);
        return false;
    }
    for (QString *bundle : {&request.unspoolBundle, &request.wayfarerBundle}) {
        if (!copyOnce(*bundle, withIcon, why))
            return false;
        const QString resources = *bundle + QStringLiteral("/Contents/Resources");
        const QString icon = resources + QLatin1Char('/') + QLatin1String(kLessonIcon);
        if (!QDir().mkpath(resources) || !icons::convertToIcns(changes.iconImage, icon, why) ||
            !setIconFile(*bundle, why))
            return false;
    }
    return true;
}

} // namespace lessonpack
