// The root helper's own checks, run as root against its test build (the plug-in's
// locations come from QUIESCE_TEST_SYSTEM_ROOT and QUIESCE_TEST_HOME) with real
// processes: each row lays something out, sends one record and looks at the
// answer and at what became of the process or the files.
#include "GMUExtensions.h"
#include "RootHelperRunner.h"
#include "Sandbox.h"
#include "TestFiles.h"
#include "root_helper/Protocol.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>

#include <unistd.h>

namespace
{

// How the helper is started, and what is laid out for an rm.
enum class Start {
    Plain,
    PidOne, // pid 1 of a namespace of its own holds the plug-in; the helper is its grandchild
    Parent, // a shell that holds the plug-in waits for the helper
    Self,   // the helper's working folder is the plug-in
    UserCopy,
    Library,
    BundleLink,
    AboveLink,
    AboveGroupWritable,
};

// Child scripts: $1 the system-wide plug-in's file, $2 the user's, $3 the system bundle.
const char kHold[] = "exec 3<\"$1\"; echo holding; exec sleep 600";
const char kHoldUser[] = "exec 3<\"$2\"; echo holding; exec sleep 600";
const char kInside[] = "cd \"$3\"; echo holding; exec sleep 600";
const char kIdle[] = "echo holding; exec sleep 600";
const char kParent[] = "sleep 600 3<\"$1\" & echo \"holding $!\"; wait";
const char kNobodyParent[] = "exec setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "
                             "'sleep 600 3<\"$0\" & echo \"holding $!\"; wait' \"$1\"";
// Maps the file, closes it, then waits: it holds only the mapping.
const char kMapOnly[] = R"(exec python3 -c '
import ctypes, os, sys, time
libc = ctypes.CDLL(None); libc.mmap.restype = ctypes.c_void_p
libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t] + [ctypes.c_int] * 3 + [ctypes.c_long]
fd = os.open(sys.argv[1], os.O_RDONLY); assert libc.mmap(None, 4096, 1, 2, fd, 0) != 2**64 - 1
os.close(fd); print("holding", flush=True); time.sleep(600)' "$1")";

struct Row {
    const char *what;
    const char *child; // a script run by /bin/sh, or nullptr
    Start setup;
    std::vector<std::string> request; // PID, START, LATER (START + 1) and PATH filled in
    bool done;
    std::string raw = {};
};

void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.what;
}

const std::vector<std::string> kKill{"/bin/kill", "-9", "PID", "START"};
const std::vector<std::string> kRemove{"/bin/rm", "-rf", "PATH"};
const Start kPlain = Start::Plain;

// Raw records ('|' stands for NUL) are sent as they are; only a sound one is answered.
const Row kRows[] = {
    {"a holder of an open file", kHold, kPlain, kKill, true},
    {"a holder of the user's copy", kHoldUser, kPlain, kKill, true},
    {"a holder by its working folder", kInside, kPlain, kKill, true},
    {"a holder that only maps a file", kMapOnly, kPlain, kKill, true},
    {"a same-user parent of a holder", kNobodyParent, kPlain, kKill, true},
    {"a root parent of a holder", kParent, kPlain, kKill, false},
    {"a process that holds nothing", kIdle, kPlain, kKill, false},
    {"a reused number", kHold, kPlain, {"/bin/kill", "-9", "PID", "LATER"}, false},
    {"another signal", kHold, kPlain, {"/bin/kill", "-15", "PID", "START"}, false},
    {"no start time", kHold, kPlain, {"/bin/kill", "-9", "PID"}, false},
    {"pid 1, though it holds", nullptr, Start::PidOne, {"/bin/kill", "-9", "1", "START"}, false},
    {"its parent, though it holds", nullptr, Start::Parent, kKill, false},
    {"itself, though it holds", nullptr, Start::Self, kKill, false},
    {"rm of the system-wide bundle", nullptr, kPlain, kRemove, true},
    {"rm of the user's copy", nullptr, Start::UserCopy, kRemove, false},
    {"rm of another system folder", nullptr, Start::Library, kRemove, false},
    {"rm of a link in the bundle's place", nullptr, Start::BundleLink, kRemove, false},
    {"rm through a link above", nullptr, Start::AboveLink, kRemove, false},
    {"rm below a group-writable folder", nullptr, Start::AboveGroupWritable, kRemove, false},
    {"rm of /", nullptr, kPlain, {"/bin/rm", "-rf", "/"}, false},
    {"sleep 0", nullptr, kPlain, {"/bin/sleep", "0"}, true},
    {"sleep for long", nullptr, kPlain, {"/bin/sleep", "99999"}, false},
    {"a shell", nullptr, kPlain, {"/bin/sh", "-c", "true"}, false},
    {"a sound record", nullptr, kPlain, {}, true, "13\n/bin/sleep|0|"},
    {"a length above the limit", nullptr, kPlain, {}, false, "4097\n" + std::string(4097, 'a')},
    {"a length with a letter", nullptr, kPlain, {}, false, "1a\n/bin/sleep|0|"},
    {"a payload without its end", nullptr, kPlain, {}, false, "5\nsleep"},
};

// A row's child, started when it has printed "holding [pid of a holding child]".
struct Child {
    QProcess process;
    int orphan = 0;
    explicit Child(const QStringList &arguments)
    {
        process.start("/bin/sh", arguments);
        QByteArray line;
        while (!line.contains('\n') && process.waitForReadyRead(60000))
            line += process.readAllStandardOutput();
        orphan = line.mid(line.indexOf("holding") + 7).trimmed().toInt();
    }
    ~Child()
    {
        if (orphan > 0)
            ::kill(orphan, SIGKILL);
        process.kill();
        process.waitForFinished();
    }
};

class RootHelper : public ::testing::TestWithParam<Row>
{
  protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the helper reads other processes' /proc entries as root";
        ASSERT_TRUE(QFile::setPermissions(box.path(), QFile::permissions(box.path()) |
                                                          QFile::ExeOther | QFile::ExeGroup));
        ASSERT_TRUE(testfiles::write(systemFile, "plist") && testfiles::write(userFile, "plist"));
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUIESCE_TEST_SYSTEM_ROOT", box.path("root"));
        environment.insert("QUIESCE_TEST_HOME", box.home());
        helper.setProcessEnvironment(environment);
    }
    // Lays out the row's setup and starts the helper its way.
    void lay(Start setup)
    {
        const QString library = QFileInfo(plugIns).path(), real = box.path("real");
        const QString self = QStringLiteral(QUIESCE_ROOT_HELPER);
        QString program = self;
        QStringList arguments;
        if (setup == Start::PidOne) {
            program = "/usr/bin/unshare";
            arguments = {
                "--pid",
                "--fork",
                "--mount-proc",
                "/bin/sh",
                "-c",
                "exec 3<\"$1\"; cut -d' ' -f22 /proc/1/stat; sh -c '\"$0\"; :' \"$0\" 3<&-",
                self,
                systemFile};
        } else if (setup == Start::Parent) {
            program = "/bin/sh";
            arguments = {"-c", "exec 3<\"$1\"; \"$0\"; :", self, systemFile};
        } else if (setup == Start::Self) {
            helper.setWorkingDirectory(bundle);
        } else if (setup == Start::UserCopy) {
            path = QFileInfo(userFile).path();
            kept = userFile;
        } else if (setup == Start::Library) {
            path = library;
        } else if (setup == Start::BundleLink || setup == Start::AboveLink) {
            const QString moved = setup == Start::BundleLink ? bundle : library;
            EXPECT_TRUE(QDir().rename(moved, real) && QFile::link(real, moved));
            kept = real + systemFile.mid(moved.size());
        } else if (setup == Start::AboveGroupWritable) {
            ::chmod(QFile::encodeName(plugIns).constData(), 0775);
        }
        helper.start(program, arguments);
        EXPECT_TRUE(helper.waitForStarted());
    }
    std::string fill(const std::string &field) const
    {
        const QString value = field == "PID"     ? QString::number(pid)
                              : field == "START" ? QString::number(start)
                              : field == "LATER" ? QString::number(start + 1)
                              : field == "PATH"  ? path
                                                 : QString::fromStdString(field);
        return value.toStdString();
    }

    Sandbox box;
    QString bundle = box.path("root/Library/Internet Plug-Ins/Glimmer Player.plugin");
    QString plugIns = QFileInfo(bundle).path();
    QString systemFile = bundle + "/Contents/Info.plist", kept = systemFile, path = bundle;
    QString userFile = box.home() + systemFile.mid(box.path("root").size());
    QProcess helper;
    qint64 pid = 0;
    quint64 start = 0;
};

TEST_P(RootHelper, AnswersOnlyWhatItChecked)
{
    const Row &row = GetParam();
    std::unique_ptr<Child> child;
    if (row.child)
        child = std::make_unique<Child>(
            QStringList{"-c", row.child, "sh", systemFile, userFile, bundle});
    lay(row.setup);
    pid = child ? child->process.processId() : helper.processId();
    const auto identity = GMUExtensions::identify(int(pid));
    start = identity ? identity->startTime : 0;
    if (row.setup == Start::PidOne && helper.waitForReadyRead(60000))
        start = helper.readLine().trimmed().toULongLong();
    roothelper::Request request;
    for (const std::string &field : row.request)
        request.push_back(fill(field));
    std::string record = row.raw.empty() ? roothelper::encodeRequest(request) : row.raw;
    std::replace(record.begin(), record.end(), '|', '\0');
    helper.write(record.data(), qint64(record.size()));
    helper.closeWriteChannel(); // the helper ends once its tools have
    ASSERT_TRUE(helper.waitForFinished(60000));
    EXPECT_EQ(helper.readAllStandardOutput(), row.done ? "1\n" : row.raw.empty() ? "0\n" : "");
    // A killed child ends by the signal; a spared one runs on. A removal takes the
    // file kept for the row.
    if (child) {
        EXPECT_EQ(row.done ? child->process.waitForFinished(60000) &&
                                 child->process.exitStatus() == QProcess::CrashExit
                           : child->process.state() == QProcess::Running,
                  true);
    }
    EXPECT_EQ(row.request == kRemove && !QFile::exists(kept), row.request == kRemove && row.done);
}

INSTANTIATE_TEST_SUITE_P(Table, RootHelper, ::testing::ValuesIn(kRows));

// Which helper Quiesce hands to pkexec: the installed one only when root alone can
// have changed it, the bundle's only when none is installed.
struct Placement {
    const char *what;
    const char *change; // done to the installation: "chmod", "chown" or "rm"
    const char *chosen; // "installed", "bundled" or "" (none)
};

void PrintTo(const Placement &row, std::ostream *out)
{
    *out << row.what;
}

class HelperPlacement : public ::testing::TestWithParam<Placement>
{
};

TEST_P(HelperPlacement, TrustsOnlyARootOnlyInstallation)
{
    const QString change = GetParam().change, chosen = GetParam().chosen;
    // Inside the build tree, whose folders up to "/" must be root's alone.
    QTemporaryDir base(QStringLiteral(QUIESCE_TEST_BINARY_DIR "/placement-XXXXXX"));
    if (::geteuid() != 0 || !RootHelperRunner::isSafeSystemFile(QUIESCE_ROOT_HELPER))
        GTEST_SKIP() << "needs root and a build tree only root can write";
    const QString installed = base.filePath("libexec/quiesce-root-helper");
    ASSERT_TRUE(testfiles::writeExecutable(installed, "#!/bin/sh\n"));
    ASSERT_EQ(QProcess::execute("/bin/sh", {"-c", "chmod 755 \"$0\"; " + change, installed}), 0);
    const auto helper = RootHelperRunner::helperToRun(installed, base.filePath("bundled"));
    EXPECT_EQ(helper.value_or(""), chosen.isEmpty() ? "" : base.filePath(chosen));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HelperPlacement,
    ::testing::Values(Placement{"root's alone", "true", "libexec/quiesce-root-helper"},
                      Placement{"a group-writable folder", "chmod g+w \"${0%/*}\"", ""},
                      Placement{"owned by another user", "chown 65534 \"$0\"", ""},
                      Placement{"none installed", "rm \"$0\"", "bundled"}));

} // namespace
