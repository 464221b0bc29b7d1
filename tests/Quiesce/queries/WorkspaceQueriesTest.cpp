// The two workspace queries over a workspace whose answers the test sets.
#include "GMUExtensions.h"
#include "Workspace.h"

#include <gtest/gtest.h>

#include <ostream>

namespace
{

struct Volume {
    QString path;
    bool readable; // whether its information can be read
    bool writable;
    bool unmountable;
};

class FakeWorkspace : public platform::Workspace
{
  public:
    QList<QVariantMap> applications;
    QList<Volume> volumes;

    QList<QVariantMap> launchedApplications() const override { return applications; }
    QVariantMap activeApplication() const override { return {}; }
    void activateIgnoringOtherApps() override {}
    bool requestClose(int) override { return false; }
    QList<QString> mountedLocalVolumePaths() const override
    {
        QList<QString> paths;
        for (const Volume &v : volumes)
            paths.append(v.path);
        return paths;
    }
    bool fileSystemInfo(const QString &path, bool *writable, bool *unmountable) const override
    {
        for (const Volume &v : volumes) {
            if (v.path == path && v.readable) {
                *writable = v.writable;
                *unmountable = v.unmountable;
                return true;
            }
        }
        return false;
    }
};

QVariantMap record(const QVariant &pid, const QString &name)
{
    return {{"NSApplicationProcessIdentifier", pid}, {"NSApplicationName", name}};
}

TEST(InfoDictionaryForPID, GivesTheFirstRecordWithThatIdentifier)
{
    FakeWorkspace workspace;
    workspace.applications = {record(100, "Finder"), record(412, "Browser"), record(412, "Later")};
    const auto found = GMUExtensions::infoDictionaryForPID(workspace, 412);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->value("NSApplicationName").toString(), "Browser");
}

TEST(InfoDictionaryForPID, ReadsTheIdentifierAsANumber)
{
    FakeWorkspace workspace;
    workspace.applications = {record(QStringLiteral("977"), "Mail")};
    ASSERT_TRUE(GMUExtensions::infoDictionaryForPID(workspace, 977).has_value());
}

TEST(InfoDictionaryForPID, GivesNothingForAnUnlistedProcess)
{
    FakeWorkspace workspace;
    workspace.applications = {record(100, "Finder")};
    ASSERT_TRUE(GMUExtensions::infoDictionaryForPID(workspace, 100).has_value());
    EXPECT_FALSE(GMUExtensions::infoDictionaryForPID(workspace, 412).has_value());
    EXPECT_FALSE(GMUExtensions::infoDictionaryForPID(FakeWorkspace(), 100).has_value());
}

struct VolumeCase {
    const char *what;
    QList<Volume> volumes;
    QStringList expected;
};

std::ostream &operator<<(std::ostream &os, const VolumeCase &c)
{
    return os << c.what;
}

class VolumeFilter : public ::testing::TestWithParam<VolumeCase>
{
};

TEST_P(VolumeFilter, KeepsWritableFixedVolumesInOrder)
{
    FakeWorkspace workspace;
    workspace.volumes = GetParam().volumes;
    EXPECT_EQ(GMUExtensions::localWritableNonUnmountableVolumePaths(workspace),
              GetParam().expected);
}

const VolumeCase kVolumeCases[] = {
    {"read-only and writable fixed",
     {{"/", true, false, false}, {"/data", true, true, false}},
     {"/data"}},
    {"external disk left out", {{"/", true, true, false}, {"/media/usb", true, true, true}}, {"/"}},
    {"unreadable left out", {{"/", true, true, false}, {"/broken", false, true, false}}, {"/"}},
    {"order kept", {{"/b", true, true, false}, {"/a", true, true, false}}, {"/b", "/a"}},
    {"no volumes", {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Table, VolumeFilter, ::testing::ValuesIn(kVolumeCases));

} // namespace
