#pragma once

#include "platform/MainBundle.h"

namespace platform
{

// The bundle of the running executable (/proc/self/exe), or of an explicit path.
//
// A lesson file's starter runs Unspool from a runtime bundle it shares with other
// lessons, and tells it which lesson it is: the archive is the lesson file itself,
// open at the descriptor in UNSPOOL_LESSON_FD; UNSPOOL_LESSON_NAME is the display
// name and UNSPOOL_LESSON_ICON the icon. Those take the place of the bundle's own.
class LinuxMainBundle : public MainBundle
{
  public:
    struct Lesson {
        QString archivePath;
        QString name;
        QString iconPath;
    };

    LinuxMainBundle();
    explicit LinuxMainBundle(QString bundlePath, Lesson lesson = {});
    // The running executable's bundle with the lesson a starter handed over, whose
    // variables are then removed, so the programs this one starts never see them.
    static LinuxMainBundle withLessonFromEnvironment();
    QString bundlePath() const override { return m_bundlePath; }
    QString pathForResource(const QString &name, const QString &type) const override;
    QString displayName() const override;
    QVariant infoValue(const QString &key) const override;

  private:
    QString m_bundlePath;
    Lesson m_lesson;
};

} // namespace platform
