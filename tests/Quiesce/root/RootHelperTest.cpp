// The root helper's own guard: the protocol it reads and the requests it runs.
#include "RootTestSupport.h"
#include "TestFiles.h"
#include "root_helper/Protocol.h"

#include <QProcess>
#include <QTemporaryDir>

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
    {"kill one process", {"/bin/kill", "-9", "412"}, true},
    {"largest identifier", {"/bin/kill", "-9", "2147483647"}, true},
    {"remove a folder",
     {"/bin/rm", "-rf", "/Library/Internet Plug-Ins/Glimmer Player.plugin"},
     true},

    {"kill every process", {"/bin/kill", "-9", "-1"}, false},
    {"kill own group", {"/bin/kill", "-9", "0"}, false},
    {"leading zero", {"/bin/kill", "-9", "0412"}, false},
    {"identifier too large", {"/bin/kill", "-9", "2147483648"}, false},
    {"identifier with sign", {"/bin/kill", "-9", "+412"}, false},
    {"other signal", {"/bin/kill", "-15", "412"}, false},
    {"several processes", {"/bin/kill", "-9", "412", "977"}, false},
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
    EXPECT_FALSE(session->execute("/bin/kill", {"-15", QString::number(child.processId())}));
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

} // namespace
