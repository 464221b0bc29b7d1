// Holders named from desktop entries: a test data folder holds the entries, and
// real processes belong to them the ways a desktop knows.
#include "DesktopApplications.h"
#include "Holders.h"
#include "LinuxWorkspace.h"
#include "QtApplicationIcons.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "XClient.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace quiesce_test;

namespace
{

struct ScopeCase {
    const char *name;
    const char *cgroup;
    const char *desktopId;
};

std::ostream &operator<<(std::ostream &os, const ScopeCase &c)
{
    return os << c.name << " (" << c.cgroup << ")";
}

const ScopeCase kScopeCases[] = {
    {"launcher_scope",
     "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
     "app-gnome-org.gnome.TextEditor-1234.scope\n",
     "org.gnome.TextEditor"},
    {"scope_without_launcher", "0::/user.slice/app.slice/app-org.kde.kate-1234.scope\n",
     "org.kde.kate"},
    {"flatpak_scope", "0::/app.slice/app-flatpak-org.gimp.GIMP-98765.scope\n", "org.gimp.GIMP"},
    {"escaped_dash", "0::/app.slice/app-gnome-firefox\\x2desr-2222.scope\n", "firefox-esr"},
    {"service_with_random", "0::/app.slice/app-gnome-org.gnome.Terminal@3.service\n",
     "org.gnome.Terminal"},
    {"service_without_launcher", "0::/app.slice/app-org.kde.konsole.service\n", "org.kde.konsole"},
    {"below_the_scope", "0::/app.slice/app-kde-org.kde.okular-55.scope/tab-1\n", "org.kde.okular"},
    {"named_hierarchy_line", "9:name=systemd:/\n1:name=systemd:/app-org.kde.kate-7.scope\n",
     "org.kde.kate"},
    {"session_scope", "0::/user.slice/user-1000.slice/session-2.scope\n", ""},
    {"application_slice", "0::/user.slice/user-1000.slice/user@1000.service/app.slice\n", ""},
    {"terminal_tab", "0::/app.slice/vte-spawn-8a5c0e.scope\n", ""},
    {"dash_left_unescaped", "0::/app.slice/app-gnome-some-thing-1234.scope\n", ""},
    {"root_group", "0::/\n", ""},
};

class ScopeTest : public ::testing::TestWithParam<ScopeCase>
{
};

TEST_P(ScopeTest, FindsTheDesktopIdOfTheApplicationUnit)
{
    const ScopeCase &c = GetParam();
    EXPECT_EQ(platform::desktop::scopeDesktopId(c.cgroup), QString::fromUtf8(c.desktopId));
}

INSTANTIATE_TEST_SUITE_P(Desktop, ScopeTest, ::testing::ValuesIn(kScopeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Desktop, TheLaunchersVariableCountsForTheProcessItNames)
{
    const auto environText = [](const QList<QByteArray> &variables) {
        return variables.join('\0') + '\0';
    };
    const QByteArray file = "GIO_LAUNCHED_DESKTOP_FILE=/apps/a.desktop";
    using platform::desktop::launchedDesktopFile;
    EXPECT_EQ(launchedDesktopFile(environText({"HOME=/h", file}), 42), "/apps/a.desktop");
    EXPECT_EQ(launchedDesktopFile(environText({file, "GIO_LAUNCHED_DESKTOP_FILE_PID=42"}), 42),
              "/apps/a.desktop");
    EXPECT_EQ(launchedDesktopFile(environText({file, "GIO_LAUNCHED_DESKTOP_FILE_PID=41"}), 42), "");
    EXPECT_EQ(launchedDesktopFile(environText({"HOME=/h"}), 42), "");
}

// The desktop's data folders, laid out before anything reads them (GLib reads
// XDG_DATA_DIRS once per process). GLib ignores an entry whose program is missing,
// so entries that no test process runs name true.
class DesktopData : public ::testing::Environment
{
  public:
    static inline QString folder;

    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        folder = mDir.path();
        entry("org.example.LessonViewer", "Lesson Viewer", "/bin/true --viewer",
              folder + "/viewer.png", "StartupWMClass=LessonViewer\n");
        entry("org.example.Launched", "Launched Lesson", "/bin/true --launched", "lesson-launched");
        entry("org.example.Reader", "Lesson Reader", folder + "/bin/lesson-reader %f", "");
        entry("org.example.SharedA", "Shared A", folder + "/bin/shared-tool", "");
        entry("org.example.SharedB", "Shared B", folder + "/bin/shared-tool %U", "");
        for (const char *tool : {"lesson-reader", "shared-tool"})
            ASSERT_TRUE(copyOfSleep(folder + "/bin/" + tool));
        ASSERT_TRUE(image(Qt::blue).save(folder + "/viewer.png"));
        ASSERT_TRUE(testfiles::write(folder + "/icons/hicolor/index.theme",
                                     "[Icon Theme]\nName=Test\nDirectories=48x48/apps\n\n"
                                     "[48x48/apps]\nSize=48\nType=Fixed\n"));
        QDir().mkpath(folder + "/icons/hicolor/48x48/apps");
        ASSERT_TRUE(
            image(Qt::green).save(folder + "/icons/hicolor/48x48/apps/lesson-launched.png"));
        qputenv("XDG_DATA_DIRS", folder.toUtf8());
        qputenv("XDG_DATA_HOME", (folder + "/home").toUtf8());
        qunsetenv("GIO_LAUNCHED_DESKTOP_FILE");
        qunsetenv("GIO_LAUNCHED_DESKTOP_FILE_PID");
    }

    static QString entryPath(const QString &id)
    {
        return folder + "/applications/" + id + ".desktop";
    }

  private:
    static void entry(const QString &id, const QString &name, const QString &exec,
                      const QString &icon, const QString &more = {})
    {
        QString text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n";
        if (!icon.isEmpty())
            text += "Icon=" + icon + "\n";
        ASSERT_TRUE(testfiles::write(entryPath(id), (text + more).toUtf8()));
    }
    static bool copyOfSleep(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).path());
        return QFile::copy("/bin/sleep", path) &&
               QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    }
    static QImage image(Qt::GlobalColor colour)
    {
        QImage picture(48, 48, QImage::Format_ARGB32);
        picture.fill(colour);
        return picture;
    }

    QTemporaryDir mDir;
};

const auto *const kDesktopData = ::testing::AddGlobalTestEnvironment(new DesktopData);

struct NamingCase {
    const char *name;
    const char *program; // below the data folder unless absolute; empty: the X11 application
    const char *launchedEntry;
    const char *launchedPid; // "self": the child's own
    const char *expectedId;  // empty: no desktop record
    const char *expectedName;
};

std::ostream &operator<<(std::ostream &os, const NamingCase &c)
{
    return os << c.name;
}

const NamingCase kNamingCases[] = {
    {"launched_with_the_entry", "/bin/sleep", "org.example.Launched", "", "org.example.Launched",
     "Launched Lesson"},
    {"launched_entry_named_for_itself", "/bin/sleep", "org.example.Launched", "self",
     "org.example.Launched", "Launched Lesson"},
    {"launched_entry_inherited", "/bin/sleep", "org.example.Launched", "1", "", ""},
    {"window_class", "", "", "", "org.example.LessonViewer", "Lesson Viewer"},
    {"the_one_entry_running_it", "bin/lesson-reader", "", "", "org.example.Reader",
     "Lesson Reader"},
    {"two_entries_running_it", "bin/shared-tool", "", "", "", ""},
    {"no_entry", "/bin/sleep", "", "", "", ""},
};

class NamingTest : public ::testing::TestWithParam<NamingCase>
{
};

QVariantMap recordOf(int pid)
{
    for (const QVariantMap &r : platform::LinuxWorkspace().launchedApplications()) {
        if (r.value("NSApplicationProcessIdentifier").toInt() == pid)
            return r;
    }
    return {};
}

TEST_P(NamingTest, NamesAHolderFromItsDesktopEntry)
{
    const NamingCase &c = GetParam();
    const QString plugin = makePlugin(DesktopData::folder + "/" + c.name);
    std::unique_ptr<XClient> client;
    std::unique_ptr<QProcess> child;
    if (!*c.program) {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        client = std::make_unique<XClient>(plugin, "closes",
                                           QStringList{"lessonviewer", "LessonViewer"});
        ASSERT_TRUE(client->isReady());
    } else {
        child = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (*c.launchedEntry)
            environment.insert("GIO_LAUNCHED_DESKTOP_FILE",
                               DesktopData::entryPath(QString::fromLatin1(c.launchedEntry)));
        child->setProcessEnvironment(environment);
        const QString program = QFileInfo(QString::fromLatin1(c.program).startsWith('/')
                                              ? QString::fromLatin1(c.program)
                                              : DesktopData::folder + "/" + c.program)
                                    .canonicalFilePath();
        // The variable naming the child's own process is only known once it runs,
        // so a shell sets it and then becomes the program.
        QString script = QStringLiteral("exec \"$0\" 600");
        if (QLatin1String(c.launchedPid) == QLatin1String("self"))
            script.prepend("export GIO_LAUNCHED_DESKTOP_FILE_PID=$$; ");
        else if (*c.launchedPid)
            script.prepend(QString("export GIO_LAUNCHED_DESKTOP_FILE_PID=%1; ").arg(c.launchedPid));
        child->start("/bin/sh", {"-c", script, program});
        ASSERT_TRUE(child->waitForStarted());
        const QString exe = QString("/proc/%1/exe").arg(child->processId());
        for (int i = 0; i < 6000 && QFile::symLinkTarget(exe) != program; ++i)
            QThread::msleep(10);
        ASSERT_EQ(QFile::symLinkTarget(exe), program);
    }
    const int pid = client ? client->pid() : int(child->processId());

    const QVariantMap record = recordOf(pid);
    if (!*c.expectedId) {
        EXPECT_TRUE(record.isEmpty()) << record.value("NSApplicationName").toString().toStdString();
    } else {
        EXPECT_EQ(record.value("NSApplicationName").toString(), QString::fromUtf8(c.expectedName));
        EXPECT_EQ(record.value("NSApplicationBundleIdentifier").toString(),
                  QString::fromLatin1(c.expectedId));
        EXPECT_EQ(record.value("NSApplicationPath").toString(),
                  DesktopData::entryPath(QString::fromLatin1(c.expectedId)));
    }
    if (child) {
        child->kill();
        child->waitForFinished();
    }
}

INSTANTIATE_TEST_SUITE_P(Desktop, NamingTest, ::testing::ValuesIn(kNamingCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Desktop, AnEntrysIconComesFromItsFileOrTheIconTheme)
{
    QIcon::setThemeSearchPaths({DesktopData::folder + "/icons"});
    QIcon::setThemeName("hicolor");
    const platform::QtApplicationIcons icons{QString()};
    const auto colourOf = [&](const QString &id) {
        return icons.iconForBundle(DesktopData::entryPath(id))
            .pixmap(16)
            .toImage()
            .pixelColor(8, 8);
    };
    EXPECT_EQ(colourOf("org.example.LessonViewer"), QColor(Qt::blue));
    EXPECT_EQ(colourOf("org.example.Launched"), QColor(Qt::green));
    EXPECT_TRUE(icons.iconForBundle(DesktopData::entryPath("org.example.Reader")).isNull());
}

} // namespace
