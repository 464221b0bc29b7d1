// The Linux workspace over real processes: a copy of sleep run from inside a test
// application bundle, and an X server of our own for the active window.
#include "LinuxWorkspace.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace
{

QByteArray infoPlist(const QString &executable, const QString &name, const QString &identifier)
{
    QByteArray keys = "<key>CFBundleExecutable</key><string>" + executable.toUtf8() + "</string>";
    if (!name.isEmpty())
        keys += "<key>CFBundleName</key><string>" + name.toUtf8() + "</string>";
    if (!identifier.isEmpty())
        keys += "<key>CFBundleIdentifier</key><string>" + identifier.toUtf8() + "</string>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\"><dict>" +
           keys + "</dict></plist>\n";
}

// Lays out <folder>/<bundleName>.app with a copy of sleep as its executable.
QString makeSleepBundle(const QString &folder, const QString &bundleName, const QString &name,
                        const QString &identifier)
{
    const QString bundle = folder + "/" + bundleName + ".app";
    const QString executable = bundle + "/Contents/MacOS/Sleeper";
    testfiles::write(bundle + "/Contents/Info.plist", infoPlist("Sleeper", name, identifier));
    QDir().mkpath(bundle + "/Contents/MacOS");
    QFile::copy(QStringLiteral("/bin/sleep"), executable);
    QFile::setPermissions(executable, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    return bundle;
}

class Child
{
  public:
    explicit Child(const QString &program)
    {
        mProcess.start(program, {QStringLiteral("30")});
        EXPECT_TRUE(mProcess.waitForStarted()) << program.toStdString();
    }
    ~Child()
    {
        mProcess.kill();
        mProcess.waitForFinished();
    }
    int pid() const { return int(mProcess.processId()); }

  private:
    QProcess mProcess;
};

QVariantMap recordOf(const QList<QVariantMap> &records, int pid)
{
    for (const QVariantMap &r : records) {
        if (r.value("NSApplicationProcessIdentifier").toInt() == pid)
            return r;
    }
    return {};
}

TEST(LinuxWorkspace, ListsAProcessRunningFromABundleWithItsRecord)
{
    QTemporaryDir tmp;
    const QString bundle =
        makeSleepBundle(tmp.path(), "Test App", "Test Application", "org.example.testapp");
    Child inBundle(bundle + "/Contents/MacOS/Sleeper");
    Child plain(QStringLiteral("/bin/sleep"));

    const QList<QVariantMap> records = platform::LinuxWorkspace().launchedApplications();
    const QVariantMap record = recordOf(records, inBundle.pid());
    EXPECT_EQ(record.value("NSApplicationProcessIdentifier").toInt(), inBundle.pid());
    EXPECT_EQ(record.value("NSApplicationName").toString(), "Test Application");
    EXPECT_EQ(record.value("NSApplicationPath").toString(), bundle);
    EXPECT_EQ(record.value("NSApplicationBundleIdentifier").toString(), "org.example.testapp");
    EXPECT_TRUE(recordOf(records, plain.pid()).isEmpty());
}

TEST(LinuxWorkspace, NamesABundleWithoutBundleNameByItsFolder)
{
    QTemporaryDir tmp;
    const QString bundle = makeSleepBundle(tmp.path(), "Folder Name", "", "");
    Child child(bundle + "/Contents/MacOS/Sleeper");
    const QVariantMap record =
        recordOf(platform::LinuxWorkspace().launchedApplications(), child.pid());
    EXPECT_EQ(record.value("NSApplicationName").toString(), "Folder Name");
    EXPECT_FALSE(record.contains("NSApplicationBundleIdentifier"));
}

// An X server of our own, told when it is ready through -displayfd.
class OwnXServer
{
  public:
    OwnXServer()
    {
        mServer.start(QStringLiteral("/usr/bin/Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"),
                       QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
        if (!mServer.waitForStarted())
            return;
        while (!mServer.canReadLine() && mServer.waitForReadyRead(-1)) {
        }
        const QByteArray number = mServer.readLine().trimmed();
        if (!number.isEmpty())
            display = ":" + QString::fromLatin1(number);
    }
    ~OwnXServer()
    {
        mServer.terminate();
        mServer.waitForFinished();
    }
    // Runs xprop on this server's root window.
    bool setRootProperty(const QString &name, const QString &format, const QString &value) const
    {
        QProcess xprop;
        xprop.start(QStringLiteral("/usr/bin/xprop"),
                    {"-display", display, "-root", "-f", name, format, "-set", name, value});
        return xprop.waitForFinished() && xprop.exitCode() == 0;
    }
    QString rootWindowId() const
    {
        QProcess xwininfo;
        xwininfo.start(QStringLiteral("/usr/bin/xwininfo"), {"-display", display, "-root"});
        xwininfo.waitForFinished();
        const QString text = QString::fromLatin1(xwininfo.readAllStandardOutput());
        const qsizetype at = text.indexOf("Window id: ");
        return at < 0 ? QString() : text.mid(at + 11).section(' ', 0, 0);
    }
    QString display;

  private:
    QProcess mServer;
};

class DisplayOverride
{
  public:
    explicit DisplayOverride(const QString &display) : mOld(qgetenv("DISPLAY"))
    {
        if (display.isEmpty())
            qunsetenv("DISPLAY");
        else
            qputenv("DISPLAY", display.toLatin1());
    }
    ~DisplayOverride() { qputenv("DISPLAY", mOld); }

  private:
    QByteArray mOld;
};

// The window manager's answer is faked by setting the two root properties: the
// active window is the root window itself, whose _NET_WM_PID names the child.
TEST(LinuxWorkspace, ActiveApplicationFollowsTheWindowManagerProperties)
{
    if (!QFile::exists("/usr/bin/Xvfb") || !QFile::exists("/usr/bin/xprop"))
        GTEST_SKIP() << "needs Xvfb and xprop";
    OwnXServer server;
    ASSERT_FALSE(server.display.isEmpty());
    QTemporaryDir tmp;
    const QString bundle =
        makeSleepBundle(tmp.path(), "Installer", "Installer", "com.apple.installer");
    Child child(bundle + "/Contents/MacOS/Sleeper");
    const QString root = server.rootWindowId();
    ASSERT_FALSE(root.isEmpty());
    ASSERT_TRUE(server.setRootProperty("_NET_ACTIVE_WINDOW", "32x", root));

    ASSERT_TRUE(server.setRootProperty("_NET_WM_PID", "32c", QString::number(child.pid())));
    {
        DisplayOverride display(server.display);
        EXPECT_EQ(
            platform::LinuxWorkspace().activeApplication().value("NSApplicationBundleIdentifier"),
            "com.apple.installer");
    }
    ASSERT_TRUE(server.setRootProperty("_NET_WM_PID", "32c", QString::number(::getpid())));
    {
        DisplayOverride display(server.display);
        EXPECT_TRUE(platform::LinuxWorkspace().activeApplication().isEmpty());
    }
}

TEST(LinuxWorkspace, KnowsNoActiveApplicationWithoutADisplay)
{
    DisplayOverride display(QString{});
    EXPECT_TRUE(platform::LinuxWorkspace().activeApplication().isEmpty());
}

// Whether "/" is mounted from a device node, read straight from the kernel's table.
bool rootIsOnADevice()
{
    QFile mounts("/proc/self/mounts");
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    bool onDevice = false;
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 1 && fields[1] == "/")
            onDevice = fields[0].startsWith("/dev/"); // the last mount on "/" counts
    }
    return onDevice;
}

TEST(LinuxWorkspace, ListsTheRootFileSystemWhenItIsLocal)
{
    if (!rootIsOnADevice())
        GTEST_SKIP() << "the root file system is not on a device node here";
    platform::LinuxWorkspace workspace;
    const QList<QString> volumes = workspace.mountedLocalVolumePaths();
    EXPECT_TRUE(volumes.contains("/"));
    for (const QString &volume : volumes) {
        bool writable = false;
        bool unmountable = false;
        EXPECT_TRUE(workspace.fileSystemInfo(volume, &writable, &unmountable))
            << volume.toStdString();
    }
    bool writable = false;
    bool unmountable = false;
    EXPECT_FALSE(workspace.fileSystemInfo("/no/such/mount point", &writable, &unmountable));
}

} // namespace
