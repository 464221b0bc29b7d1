#include "platform/linux/LinuxMainBundle.h"

#include "platform/Bundle.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>

namespace platform
{

namespace
{

const char kLessonFd[] = "UNSPOOL_LESSON_FD";
const char kLessonName[] = "UNSPOOL_LESSON_NAME";
const char kLessonIcon[] = "UNSPOOL_LESSON_ICON";
const char kLessonIconName[] = "Lesson";

QString executableBundle()
{
    return bundle::bundlePathForExecutable(QFileInfo("/proc/self/exe").symLinkTarget());
}

} // namespace

LinuxMainBundle::LinuxMainBundle() : m_bundlePath(executableBundle()) {}

LinuxMainBundle::LinuxMainBundle(QString bundlePath, Lesson lesson)
    : m_bundlePath(std::move(bundlePath)), m_lesson(std::move(lesson))
{
}

LinuxMainBundle LinuxMainBundle::withLessonFromEnvironment()
{
    Lesson lesson;
    bool isNumber = false;
    const int fd = qEnvironmentVariableIntValue(kLessonFd, &isNumber);
    // The descriptor is ours to read; the launcher started later must not inherit it.
    if (isNumber && fd > STDERR_FILENO && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0) {
        lesson.archivePath = QStringLiteral("/proc/self/fd/%1").arg(fd);
        lesson.name = qEnvironmentVariable(kLessonName);
        lesson.iconPath = QFile::decodeName(qgetenv(kLessonIcon));
    }
    for (const char *name : {kLessonFd, kLessonName, kLessonIcon})
        qunsetenv(name);
    return LinuxMainBundle(executableBundle(), lesson);
}

QString LinuxMainBundle::pathForResource(const QString &name, const QString &type) const
{
    if (!m_lesson.archivePath.isEmpty() && name == "archive" && type == "zip")
        return m_lesson.archivePath;
    if (!m_lesson.iconPath.isEmpty() && name == kLessonIconName && type == "icns")
        return m_lesson.iconPath;
    return bundle::resourcePath(m_bundlePath, name, type);
}

QString LinuxMainBundle::displayName() const
{
    return m_lesson.archivePath.isEmpty() ? bundle::displayName(m_bundlePath) : m_lesson.name;
}

QVariant LinuxMainBundle::infoValue(const QString &key) const
{
    if (!m_lesson.iconPath.isEmpty() && key == "CFBundleIconFile")
        return QString::fromLatin1(kLessonIconName) + ".icns";
    return bundle::infoDictionary(m_bundlePath).value(key);
}

} // namespace platform
