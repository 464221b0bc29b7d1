#pragma once

#include "foundation_ext/FileDescriptor.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>
#include <sys/types.h>

namespace wayfarer
{

// One setup window per lesson. The first Wayfarer of a lesson listens on a local
// socket named after its bundle, in the user's private runtime folder; a later one
// for the same lesson connects, the first brings its window forward and answers,
// and the later one ends without touching anything. When the first has gone (or
// cannot be reached), the later one takes its place.
// A plain Unix socket: a networking library would add megabytes to every lesson.
class OneWindowPerLesson : public QObject
{
    Q_OBJECT

  public:
    // `bringForward` is what the first one does when a later one hands over.
    OneWindowPerLesson(const QString &bundlePath, std::function<void()> bringForward);
    ~OneWindowPerLesson() override;

    // True when a Wayfarer of this lesson has its window up and has brought it
    // forward: this one should end. Otherwise this one is now the lesson's first.
    bool handedOver();

  private:
    void listen();
    void answerLaterStart();

    QByteArray m_path;
    std::function<void()> m_bringForward;
    FileDescriptor m_listening;
    ino_t m_socketNode = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace wayfarer
