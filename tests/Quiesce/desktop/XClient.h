#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace quiesce_test
{

// A run of the small X11 application (X11Client.cpp) that keeps `file` open on
// descriptor 3, started and showing its window when the constructor returns.
class XClient
{
  public:
    XClient(const QString &file, const QString &mode, const QStringList &windowClass = {});
    ~XClient();
    bool isReady() const { return mReady; }
    int pid() const { return mPid; }
    bool isRunning() const { return mProcess.state() != QProcess::NotRunning; }
    // Waits until the application prints `line`; false when it ends first.
    bool saw(const QByteArray &line);
    // Waits until it has ended; true when it ended by itself with status 0.
    bool endedByItself();
    // Waits until it has ended; true when a signal ended it.
    bool endedBySignal();

  private:
    QProcess mProcess;
    QByteArray mOutput;
    bool mReady = false;
    int mPid = 0;
};

} // namespace quiesce_test
