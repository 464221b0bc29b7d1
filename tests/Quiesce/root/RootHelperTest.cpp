// The root helper's own guard: the protocol it reads and the requests it runs.
#include "RootTestSupport.h"
#include "TestFiles.h"
#include "root_helper/Protocol.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include <ostream>

using namespace roottest;
using roothelper::Request;

namespace
{

struct PolicyCase {
    const char *what;
    Request request;
    bool permitted;
};

std::ostream &operator<<(std::ostream &os, const PolicyCase &c)
{
    os << c.what << " [";
    for (const std::string &field : c.request)
        os << field << ' ';
    return os << "]";
}

class Policy : public ::testing::TestWithParam<PolicyCase>
{
};

TEST_P(Policy, PermitsOnlyTheFixedShapes)
{
    EXPECT_EQ(roothelper::isPermitted(GetParam().request), GetParam().permitted);
}

const PolicyCase kPolicy[] = {
    {"authorising sleep", {"/bin/sleep", "0"}, true},
    {"kill one process", {"/bin/kill", "-9", "412", "8812"}, true},
    {"largest identifier", {"/bin/kill", "-9", "2147483647", "18446744073709551615"}, true},
    {"remove a folder",
     {"/bin/rm", "-rf", "/Library/Internet Plug-Ins/Glimmer Player.plugin"},
     true},

    {"kill every process", {"/bin/kill", "-9", "-1", "0"}, false},
    {"kill own group", {"/bin/kill", "-9", "0", "0"}, false},
    {"leading zero", {"/bin/kill", "-9", "0412", "8812"}, false},
    {"identifier too large", {"/bin/kill", "-9", "2147483648", "8812"}, false},
    {"identifier with sign", {"/bin/kill", "-9", "+412", "8812"}, false},
    {"other signal", {"/bin/kill", "-15", "412", "8812"}, false},
    {"without start time", {"/bin/kill", "-9", "412"}, false},
    {"start time beyond 64 bits", {"/bin/kill", "-9", "412", "18446744073709551616"}, false},
    {"start time not a number", {"/bin/kill", "-9", "412", "-1"}, false},
    {"several processes", {"/bin/kill", "-9", "412", "977", "8812"}, false},
    {"remove the root folder", {"/bin/rm", "-rf", "/"}, false},
    {"remove only slashes", {"/bin/rm", "-rf", "///"}, false},
    {"remove the empty path", {"/bin/rm", "-rf", ""}, false},
    {"remove an option", {"/bin/rm", "-rf", "--no-preserve-root"}, false},
    {"remove without -rf", {"/bin/rm", "/tmp/x"}, false},
    {"remove a relative path", {"/bin/rm", "-rf", "a/b"}, false},
    {"sleep for long", {"/bin/sleep", "99999"}, false},
    {"sleep for a word", {"/bin/sleep", "inf"}, false},
    {"a shell", {"/bin/sh", "-c", "true"}, false},
    {"kill through PATH", {"kill", "-9", "412"}, false},
    {"kill by another path", {"/usr/bin/kill", "-9", "412"}, false},
    {"nothing", {}, false},
};

INSTANTIATE_TEST_SUITE_P(Table, Policy, ::testing::ValuesIn(kPolicy));

TEST(Protocol, RequestsSurviveTheRoundTrip)
{
    const Request request{"/bin/rm", "-rf", "/tmp/with space/and\nnewline"};
    const std::string record = roothelper::encodeRequest(request);
    const std::size_t newline = record.find('\n');
    ASSERT_NE(newline, std::string::npos);
    const auto length = roothelper::parseLength(record.substr(0, newline));
    ASSERT_TRUE(length.has_value());
    EXPECT_EQ(*length, record.size() - newline - 1);
    EXPECT_EQ(roothelper::parsePayload(record.substr(newline + 1)), request);
}

TEST(Protocol, RefusesWhatItCannotCarry)
{
    ASSERT_FALSE(roothelper::encodeRequest({"/bin/sleep", "0"}).empty());
    EXPECT_TRUE(roothelper::encodeRequest({"/bin/rm", "-rf", std::string("a\0b", 3)}).empty());
    EXPECT_TRUE(roothelper::encodeRequest({}).empty());
    EXPECT_TRUE(roothelper::encodeRequest({"/bin/rm", "-rf", std::string(5000, 'a')}).empty());
}

TEST(Protocol, ReadsOnlySaneLengthsAndPayloads)
{
    ASSERT_EQ(roothelper::parseLength("13"), 13u);
    EXPECT_FALSE(roothelper::parseLength("").has_value());
    EXPECT_FALSE(roothelper::parseLength("0").has_value());
    EXPECT_FALSE(roothelper::parseLength("4097").has_value());
    EXPECT_FALSE(roothelper::parseLength("12a").has_value());
    EXPECT_FALSE(roothelper::parseLength("-1").has_value());
    EXPECT_FALSE(roothelper::parseLength("00013").has_value());
    ASSERT_TRUE(roothelper::parsePayload(std::string("a\0", 2)).has_value());
    EXPECT_FALSE(roothelper::parsePayload("a").has_value());
    EXPECT_FALSE(roothelper::parsePayload("").has_value());
}

// The helper over a real session: a request outside the policy is answered "not
// started" and has no effect; the session stays usable.
TEST(RootHelper, RunsPermittedRequestsOnly)
{
    QTemporaryDir tmp;
    const QString marker = tmp.path() + "/marker";
    QProcess child; // ends on TERM, so a TERM sent by mistake would show
    child.start("/bin/sleep", {"600"});
    ASSERT_TRUE(child.waitForStarted());
    auto session = directHelper()->open();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->execute("/bin/sleep", {"0"}));
    EXPECT_FALSE(session->execute("/bin/sh", {"-c", "touch \"" + marker + "\""}));
    EXPECT_FALSE(session->execute("/bin/kill", {"-15", QString::number(child.processId()),
                                                QString::number(startTimeOf(child.processId()))}));
    EXPECT_TRUE(session->execute("/bin/sleep", {"0"}));
    session.reset();
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_EQ(child.state(), QProcess::Running);
    EXPECT_FALSE(child.waitForFinished(300)); // still there to be asked
    child.kill();
    child.waitForFinished();
}

// A record that breaks the protocol ends the helper without an answer.
TEST(RootHelper, EndsOnAMalformedRecord)
{
    for (const QByteArray &input : {QByteArray("13\n/bin/sleep\0"
                                               "0\0",
                                               16),
                                    QByteArray("x\n")}) {
        QProcess helper;
        helper.start(helperPath(), {});
        ASSERT_TRUE(helper.waitForStarted());
        helper.write(input);
        helper.closeWriteChannel();
        ASSERT_TRUE(helper.waitForFinished(-1));
        const QByteArray answer = helper.readAllStandardOutput();
        if (input.startsWith("13"))
            EXPECT_EQ(answer, "1\n"); // the well-formed control
        else
            EXPECT_TRUE(answer.isEmpty());
    }
}

// The helper's own checks of kill requests, run as root over the test build with
// the plug-in in temporary folders: every row is a real process.
enum class Target {
    HoldsNothing,
    OpenFile,
    OpenFileOfTheUsersCopy,
    WorkingFolderInThePlugin,
    MapsAFileOnly,
    ParentOfAHolder,
    RootParentOfAHolder,
    ReusedNumber,
    PidOne,
    TheHelpersParent,
};

struct KillCase {
    const char *what;
    Target target;
    bool delivered;
};

std::ostream &operator<<(std::ostream &os, const KillCase &c)
{
    return os << c.what;
}

const QString kShell = QStringLiteral("/bin/sh");
const QString kAsNobody = QStringLiteral("/usr/bin/setpriv");
const QStringList kNobody{"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh"};

// Maps the file, closes its descriptor, then waits: it holds only the mapping.
const char kMapOnly[] = R"(
import ctypes, os, sys, time
libc = ctypes.CDLL(None)
libc.mmap.restype = ctypes.c_void_p
libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
fd = os.open(sys.argv[1], os.O_RDONLY)
assert libc.mmap(None, 4096, 1, 2, fd, 0) not in (None, ctypes.c_void_p(-1).value)
os.close(fd)
print("holding", flush=True)
time.sleep(600)
)";

// The parent waits for a child that holds the file and reports the child's number.
const char kParent[] = "sleep 600 3<\"$0\" & echo \"holding $!\"; wait";

class KillGuard : public ::testing::TestWithParam<KillCase>
{
  protected:
    std::unique_ptr<Child> start()
    {
        const QString file = roots.systemFile();
        switch (GetParam().target) {
        case Target::HoldsNothing:
        case Target::PidOne:
        case Target::TheHelpersParent:
            return std::make_unique<Child>(kShell,
                                           QStringList{"-c", "echo holding; exec sleep 600"});
        case Target::OpenFile:
        case Target::ReusedNumber:
            return holding(file);
        case Target::OpenFileOfTheUsersCopy:
            return holding(roots.userFile());
        case Target::WorkingFolderInThePlugin:
            return std::make_unique<Child>(
                kShell, QStringList{"-c", "cd \"$0\" && echo holding && exec sleep 600",
                                    roots.systemBundle()});
        case Target::MapsAFileOnly:
            return std::make_unique<Child>("/usr/bin/python3", QStringList{"-c", kMapOnly, file});
        case Target::ParentOfAHolder:
            return std::make_unique<Child>(kAsNobody, kNobody + QStringList{"-c", kParent, file});
        case Target::RootParentOfAHolder:
            return std::make_unique<Child>(kShell, QStringList{"-c", kParent, file});
        }
        return nullptr;
    }
    static std::unique_ptr<Child> holding(const QString &file)
    {
        return std::make_unique<Child>(
            kShell, QStringList{"-c", "exec 3<\"$0\"; echo holding; exec sleep 600", file});
    }

    PluginRoots roots;
};

TEST_P(KillGuard, SignalsOnlyHoldersOfThePlugin)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the helper reads other processes' /proc entries as root";
    const std::unique_ptr<Child> child = start();
    ASSERT_TRUE(child->isReady());
    int pid = child->pid();
    quint64 startTime = startTimeOf(pid);
    QFile heldByThisTest(roots.systemFile());
    if (GetParam().target == Target::ReusedNumber)
        startTime += 1; // as recorded from an earlier process with the same number
    if (GetParam().target == Target::PidOne) {
        pid = 1;
        startTime = startTimeOf(1);
    }
    if (GetParam().target == Target::TheHelpersParent) {
        ASSERT_TRUE(heldByThisTest.open(QIODevice::ReadOnly));
        pid = int(::getpid());
        startTime = startTimeOf(pid);
    }
    ASSERT_NE(startTimeOf(pid), 0u);

    auto session = directHelper()->open();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->execute("/bin/sleep", {"0"}));
    EXPECT_EQ(
        session->execute("/bin/kill", {"-9", QString::number(pid), QString::number(startTime)}),
        GetParam().delivered);
    session.reset();
    if (GetParam().delivered)
        EXPECT_TRUE(child->endedByKill());
    else
        EXPECT_TRUE(child->isRunning());
}

const KillCase kKillCases[] = {
    {"a holder of an open file", Target::OpenFile, true},
    {"a holder of the user's copy", Target::OpenFileOfTheUsersCopy, true},
    {"a holder by its working folder", Target::WorkingFolderInThePlugin, true},
    {"a holder that only maps a file", Target::MapsAFileOnly, true},
    {"the parent of a holder", Target::ParentOfAHolder, true},

    {"a process that holds nothing", Target::HoldsNothing, false},
    {"a root parent of a holder", Target::RootParentOfAHolder, false},
    {"a number reused by another process", Target::ReusedNumber, false},
    {"pid 1", Target::PidOne, false},
    {"the helper's parent, though it holds the plug-in", Target::TheHelpersParent, false},
};

INSTANTIATE_TEST_SUITE_P(Table, KillGuard, ::testing::ValuesIn(kKillCases));

// rm: only the system-wide bundle, reached without links through folders only
// root can change.
enum class Layout {
    AsInstalled,
    TheUsersCopy,
    ElsewhereInTheRoot,
    BundleIsALink,
    FolderAboveIsALink,
    FolderAboveIsGroupWritable,
};

struct RemoveCase {
    const char *what;
    Layout layout;
    bool removed;
};

std::ostream &operator<<(std::ostream &os, const RemoveCase &c)
{
    return os << c.what;
}

class RemoveGuard : public ::testing::TestWithParam<RemoveCase>
{
};

TEST_P(RemoveGuard, RemovesOnlyTheSystemBundle)
{
    PluginRoots roots;
    const QString plugIns = QFileInfo(roots.systemBundle()).path();
    const QString library = QFileInfo(plugIns).path();
    const QString real = roots.path("real");
    QString request = roots.systemBundle();
    QString kept = roots.systemFile();
    switch (GetParam().layout) {
    case Layout::AsInstalled:
        break;
    case Layout::TheUsersCopy:
        request = QFileInfo(roots.userFile()).path();
        kept = roots.userFile();
        break;
    case Layout::ElsewhereInTheRoot:
        request = library;
        break;
    case Layout::BundleIsALink:
        ASSERT_TRUE(QDir().rename(roots.systemBundle(), real));
        ASSERT_TRUE(QFile::link(real, roots.systemBundle()));
        kept = real + "/Contents/Info.plist";
        break;
    case Layout::FolderAboveIsALink:
        ASSERT_TRUE(QDir().rename(library, real));
        ASSERT_TRUE(QFile::link(real, library));
        kept = real + "/Internet Plug-Ins/Glimmer Player.plugin/Contents/Info.plist";
        break;
    case Layout::FolderAboveIsGroupWritable:
        ASSERT_TRUE(
            QFile::setPermissions(plugIns, QFile::permissions(plugIns) | QFile::WriteGroup));
        break;
    }
    ASSERT_TRUE(QFile::exists(kept));
    auto session = directHelper()->open();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->execute("/bin/rm", {"-rf", request}), GetParam().removed);
    session.reset(); // waits for the tool
    EXPECT_EQ(QFile::exists(kept), !GetParam().removed);
}

const RemoveCase kRemoveCases[] = {
    {"the system-wide bundle", Layout::AsInstalled, true},
    {"the user's copy", Layout::TheUsersCopy, false},
    {"another folder of the system root", Layout::ElsewhereInTheRoot, false},
    {"a link in the bundle's place", Layout::BundleIsALink, false},
    {"a link among the folders above", Layout::FolderAboveIsALink, false},
    {"a group-writable folder above", Layout::FolderAboveIsGroupWritable, false},
};

INSTANTIATE_TEST_SUITE_P(Table, RemoveGuard, ::testing::ValuesIn(kRemoveCases));

} // namespace
