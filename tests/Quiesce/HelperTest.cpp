// The root helper's own checks, run as root against its test build with real processes: each
// row lays something out, sends one request and looks at the answer and at the process or files.
#include "Quiesce/core/GMUExtensions.h"
#include "Quiesce/core/root_helper/Protocol.h"
#include "Quiesce/core/root_helper/RootHelperRunner.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

// How the helper is started (pid 1 of its own namespace, or its parent or working folder
// holding the plug-in), and what is laid out for an rm.
enum class Start { Plain, PidOne, Parent, Self, BundleLink, AboveLink, Mount };

// Child scripts over the plug-in's file $1 and the invoking user's (65534) plug-in folder $2;
// each prints "holding [pid of a holding child]".
const char kHold[] = "exec 3<\"$1\"; echo holding; exec sleep 600";
const char kMapOnly[] = R"(exec python3 -c 'import ctypes, os, sys, time
libc = ctypes.CDLL(None); libc.mmap.restype = ctypes.c_void_p
libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t] + [ctypes.c_int] * 3 + [ctypes.c_long]
fd = os.open(sys.argv[1], os.O_RDONLY); assert libc.mmap(None, 4096, 1, 2, fd, 0) != 2**64 - 1
os.close(fd); print("holding", flush=True); time.sleep(600)' "$1")";
const char kIdle[] = "echo holding; exec sleep 600";
const char kParent[] = "sleep 600 3<\"$1\" & echo \"holding $!\"; wait";
// Pid 1 of a namespace of its own holds the plug-in, prints its start time, starts the helper.
const char kPidOne[] = "exec 3<\"$1\"; cut -d' ' -f22 /proc/1/stat; sh -c '\"$0\"; :' \"$0\" 3<&-";
const char kNobodyParent[] = "exec setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "
                             "'sleep 600 3<\"$0\" & echo \"holding $!\"; wait' \"$1\"";

// In the invoking user's plug-in folder: a process of root's, theirs, another user's, and a
// shell of theirs or another user's whose child sits there.
const char kThereAsRoot[] = "cd \"$2\" && echo holding && exec sleep 600";
#define AS(user, script)                                                                           \
    "exec setpriv --reuid=" user " --regid=" user " --clear-groups sh -c '" script "' \"$2\""
const char kThereAsThem[] = AS("65534", "cd \"$0\" && echo holding && exec sleep 600");
const char kThereAsOther[] = AS("65533", "cd \"$0\" && echo holding && exec sleep 600");
const char kTheirShell[] = AS("65534", "(cd \"$0\" && exec sleep 600) & echo \"holding $!\"; wait");
const char kOtherShell[] = AS("65533", "(cd \"$0\" && exec sleep 600) & echo \"holding $!\"; wait");
#undef AS

struct Row {
    const char *name;
    const char *child; // a script run by /bin/sh, or nullptr
    Start setup;
    std::vector<std::string> request; // PID, START, LATER (START + 1) and ROOT filled in
    bool done;
};

void PrintTo(const Row &row, std::ostream *out)
{
    rows::Print(out, row.name)("request", row.request);
}

const std::vector<std::string> kKill{"/bin/kill", "-9", "PID", "START"};
const std::string kPlugIns = "ROOT/Library/Internet Plug-Ins";
const std::vector<std::string> kRemove{"/bin/rm", "-rf", kPlugIns + "/Glimmer Player.plugin"};
std::vector<std::string> removal(const std::string &path)
{
    return {"/bin/rm", "-rf", path};
}
const Start kPlain = Start::Plain;

const Row kRows[] = {
    {"a holder of an open file", kHold, kPlain, kKill, true},
    {"a holder that only maps a file", kMapOnly, kPlain, kKill, true},
    {"a same-user parent of a holder", kNobodyParent, kPlain, kKill, true},
    {"a root parent of a holder", kParent, kPlain, kKill, false},
    {"a process that holds nothing", kIdle, kPlain, kKill, false},
    {"the invoking user's process in their plug-in", kThereAsThem, kPlain, kKill, true},
    {"root's process in the user's plug-in", kThereAsRoot, kPlain, kKill, false},
    {"another user's process in the user's plug-in", kThereAsOther, kPlain, kKill, false},
    {"the invoking user's shell of a child there", kTheirShell, kPlain, kKill, true},
    {"another user's shell of a child there", kOtherShell, kPlain, kKill, false},
    {"a reused number", kHold, kPlain, {"/bin/kill", "-9", "PID", "LATER"}, false},
    {"pid 1, though it holds", nullptr, Start::PidOne, {"/bin/kill", "-9", "1", "START"}, false},
    {"its parent, though it holds", nullptr, Start::Parent, kKill, false},
    {"itself, though it holds", nullptr, Start::Self, kKill, false},
    {"rm of the system-wide bundle", nullptr, kPlain, kRemove, true},
    {"rm keeps a file system mounted in the bundle", nullptr, Start::Mount, kRemove, true},
    {"rm of another system folder", nullptr, kPlain, removal("ROOT/Library"), false},
    {"rm of the bundle's parent folder", nullptr, kPlain, removal(kPlugIns), false},
    {"rm of a sibling plug-in", nullptr, kPlain, removal(kPlugIns + "/Other.plugin"), false},
    {"rm of the bundle spelled with a doubled slash", nullptr, kPlain,
     removal("ROOT/Library//Internet Plug-Ins/Glimmer Player.plugin"), false},
    {"rm of the bundle spelled with a dot folder", nullptr, kPlain,
     removal(kPlugIns + "/./Glimmer Player.plugin"), false},
    {"rm of the bundle with a trailing slash", nullptr, kPlain,
     removal(kPlugIns + "/Glimmer Player.plugin/"), false},
    {"rm of a link in the bundle's place", nullptr, Start::BundleLink, kRemove, false},
    {"rm through a link above", nullptr, Start::AboveLink, kRemove, false},
    {"a shell", nullptr, kPlain, {"/bin/sh", "-c", "true"}, false},
};

class RootHelper : public ::testing::TestWithParam<Row>
{
};

TEST_P(RootHelper, AnswersOnlyWhatItChecked)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the helper reads other processes' /proc entries as root";
    const Row &row = GetParam();
    Sandbox box;
    const QString self = QUIESCE_ROOT_HELPER, library = box.path("root/Library");
    const QString bundle = library + "/Internet Plug-Ins/Glimmer Player.plugin";
    const QString file = bundle + "/Contents/Info.plist", mounted = bundle + "/Contents/Mounted";
    const QString sibling = library + "/Internet Plug-Ins/Other.plugin/Contents/Info.plist";
    const QString theirs = box.home() + "/Library/Internet Plug-Ins/Glimmer Player.plugin";
    for (const QString &made : {file, sibling, theirs + "/Contents/Info.plist"})
        ASSERT_TRUE(testfiles::write(made, "plist"));
    for (const QString &open : {box.path(), box.home()})
        ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0755), 0);
    QProcess child, helper;
    helper.setProcessEnvironment(
        box.environment(false, {{"QUIESCE_TEST_SYSTEM_ROOT", box.path("root")},
                                {"QUIESCE_TEST_HOME", box.home()},
                                {"PKEXEC_UID", "65534"}}));
    qint64 orphan = 0;
    const auto reap = qScopeGuard([&] {
        if (orphan > 0)
            ::kill(pid_t(orphan), SIGKILL);
        child.kill();
        child.waitForFinished();
        if (row.setup == Start::Mount)
            QProcess::execute("umount", {mounted});
    });
    if (row.setup == Start::Mount &&
        (!QDir().mkpath(mounted) || QProcess::execute("mount", {"-t", "tmpfs", "none", mounted}) ||
         !testfiles::write(mounted + "/kept", "x")))
        GTEST_SKIP() << "cannot mount a file system here";
    if (row.child) {
        child.start("/bin/sh", {"-c", row.child, "sh", file, theirs});
        QByteArray line;
        while (!line.contains('\n') && child.waitForReadyRead(60000))
            line += child.readAllStandardOutput();
        orphan = line.mid(line.indexOf("holding") + 7).trimmed().toInt();
    }
    QString program = self, kept = file;
    QStringList arguments;
    if (row.setup == Start::PidOne) {
        program = "/usr/bin/unshare";
        arguments = {"--pid", "--fork", "--mount-proc", "/bin/sh", "-c", kPidOne, self, file};
    } else if (row.setup == Start::Parent) {
        program = "/bin/sh";
        arguments = {"-c", "exec 3<\"$1\"; \"$0\"; :", self, file};
    } else if (row.setup == Start::Self) {
        helper.setWorkingDirectory(bundle);
    } else if (row.setup == Start::BundleLink || row.setup == Start::AboveLink) {
        const QString moved = row.setup == Start::BundleLink ? bundle : library;
        ASSERT_TRUE(QDir().rename(moved, box.path("real")) && QFile::link(box.path("real"), moved));
        kept = box.path("real") + file.mid(moved.size());
    }
    helper.start(program, arguments);
    ASSERT_TRUE(helper.waitForStarted());
    const qint64 pid = row.child ? child.processId() : helper.processId();
    const auto identity = GMUExtensions::identify(int(pid));
    quint64 start = identity ? identity->startTime : 0;
    if (row.setup == Start::PidOne && helper.waitForReadyRead(60000))
        start = helper.readLine().trimmed().toULongLong();
    roothelper::Request request;
    for (const std::string &field : row.request)
        request.push_back(field == "PID"     ? std::to_string(pid)
                          : field == "START" ? std::to_string(start)
                          : field == "LATER" ? std::to_string(start + 1)
                          : field.starts_with("ROOT")
                              ? box.path("root").toStdString() + field.substr(4)
                              : field);
    const std::string record = roothelper::encodeRequest(request);
    helper.write(record.data(), qint64(record.size()));
    helper.closeWriteChannel(); // the helper ends once its tools have
    ASSERT_TRUE(helper.waitForFinished(60000));
    EXPECT_EQ(helper.readAllStandardOutput(), row.done ? "1\n" : "0\n");
    // A killed child ends by the signal, a spared one runs on; a removal takes the row's file.
    if (row.child) {
        EXPECT_TRUE(row.done
                        ? child.waitForFinished(60000) && child.exitStatus() == QProcess::CrashExit
                        : child.state() == QProcess::Running);
    }
    EXPECT_EQ(row.request == kRemove && !QFile::exists(kept), row.request == kRemove && row.done);
    EXPECT_TRUE(QFile::exists(sibling) &&
                (row.setup != Start::Mount || QFile::exists(mounted + "/kept")));
}

INSTANTIATE_TEST_SUITE_P(Table, RootHelper, ::testing::ValuesIn(kRows), rows::byName);

// Quiesce hands pkexec the installed helper only while root alone can have changed it.
TEST(HelperPlacement, TrustsOnlyARootOnlyInstallation)
{
    // Inside the build tree, whose folders up to "/" must be root's alone.
    QTemporaryDir base(QStringLiteral(QUIESCE_TEST_BINARY_DIR "/placement-XXXXXX"));
    if (::geteuid() != 0 || !RootHelperRunner::isSafeSystemFile(QUIESCE_ROOT_HELPER))
        GTEST_SKIP() << "needs root and a build tree only root can write";
    const QString installed = base.filePath("libexec/quiesce-root-helper");
    ASSERT_TRUE(testfiles::writeExecutable(installed, "#!/bin/sh\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(installed).constData(), 0755), 0);
    EXPECT_EQ(RootHelperRunner::helperToRun(installed, base.filePath("b")).value_or(""), installed);
    ASSERT_EQ(::chmod(QFile::encodeName(base.filePath("libexec")).constData(), 0775), 0);
    EXPECT_EQ(RootHelperRunner::helperToRun(installed, base.filePath("b")).value_or(""), "");
}

} // namespace
