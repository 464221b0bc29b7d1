// Everything the packer must refuse, each with one clear line and without leaving
// anything behind. Every row first packs the untouched set-up (the positive
// control), then applies its fault and runs the packer again.
#include "PackerHarness.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace packertest;

namespace
{

// The paths and arguments of one packer run; a fault changes them or the disk.
struct PackSetup {
    QString root, unspool, wayfarer, content, name, output;
    QStringList extra;

    QStringList arguments() const
    {
        return QStringList{"--unspool", unspool, "--wayfarer", wayfarer} + extra +
               QStringList{content, name, output};
    }
};

bool link(const QString &target, const QString &path)
{
    return QFile::link(target, path);
}

struct Refusal {
    const char *name;
    bool (*fault)(PackSetup &);
    const char *message; // part of the one line on standard error
};

std::ostream &operator<<(std::ostream &os, const Refusal &r)
{
    return os << r.name << " (expects \"" << r.message << "\")";
}

const Refusal kRefusals[] = {
    {"no_start_page", [](PackSetup &s) { return QFile::remove(s.content + "/index.html"); },
     "has no start page index.html"},
    {"start_page_is_a_folder",
     [](PackSetup &s) {
         return QFile::remove(s.content + "/index.html") && QDir().mkdir(s.content + "/index.html");
     },
     "has no start page index.html"},
    {"start_page_is_a_link",
     [](PackSetup &s) {
         return QFile::remove(s.content + "/index.html") &&
                link("style.css", s.content + "/index.html");
     },
     "has no start page index.html"},
    {"named_pipe_in_content",
     [](PackSetup &s) {
         return ::mkfifo(QFile::encodeName(s.content + "/images/live").constData(), 0644) == 0;
     },
     "images/live is not a regular file or folder"},
    {"dangling_link_in_content",
     [](PackSetup &s) { return link(s.root + "/nowhere.html", s.content + "/gone.html"); },
     "gone.html is a symbolic link"},
    {"link_to_outside_the_content",
     [](PackSetup &s) { return link("/etc/hostname", s.content + "/secret.txt"); },
     "secret.txt is a symbolic link"},
    {"link_within_the_content",
     [](PackSetup &s) { return link("index.html", s.content + "/again.html"); },
     "again.html is a symbolic link"},
    {"linked_folder_in_content",
     [](PackSetup &s) { return link(s.content + "/images", s.content + "/pictures"); },
     "pictures is a symbolic link"},
    {"content_folder_missing",
     [](PackSetup &s) {
         s.content = s.root + "/nowhere";
         return true;
     },
     "nowhere is not a folder"},
    {"content_is_a_file",
     [](PackSetup &s) {
         s.content += "/index.html";
         return true;
     },
     "index.html is not a folder"},
    {"output_exists_as_folder",
     [](PackSetup &s) { return QDir().mkpath(s.output + "/Lesson.app"); },
     "Lesson.app already exists (use --replace to replace it)"},
    {"output_exists_as_file",
     [](PackSetup &s) { return testfiles::write(s.output + "/Lesson.app", "mine"); },
     "Lesson.app already exists (use --replace to replace it)"},
    {"output_is_a_dangling_link",
     [](PackSetup &s) {
         return QDir().mkpath(s.output) && link(s.root + "/nowhere", s.output + "/Lesson.app");
     },
     "Lesson.app already exists (use --replace to replace it)"},
    {"output_inside_the_content",
     [](PackSetup &s) {
         s.output = s.content + "/build";
         return true;
     },
     "lies inside the content folder"},
    // The other lesson names are rows of the name-policy table (NamePolicyTest).
    {"name_too_long",
     [](PackSetup &s) {
         s.name = QString(252, 'x');
         return true;
     },
     "too long (256 bytes"},
    {"installer_missing",
     [](PackSetup &s) {
         s.extra = {"--installer", s.root + "/none.pkg"};
         return true;
     },
     "none.pkg does not exist"},
    {"installer_is_a_link",
     [](PackSetup &s) {
         s.extra = {"--installer", s.root + "/player.pkg"};
         return link(s.content + "/style.css", s.root + "/player.pkg");
     },
     "player.pkg is a symbolic link"},
    {"unspool_not_a_bundle",
     [](PackSetup &s) {
         s.unspool = s.content;
         return true;
     },
     "is not a built Unspool bundle"},
    {"wayfarer_missing",
     [](PackSetup &s) {
         s.wayfarer = s.root + "/none.app";
         return true;
     },
     "none.app is not a built Wayfarer bundle"},
    {"wayfarer_executable_not_executable",
     [](PackSetup &s) {
         return QFile::setPermissions(s.wayfarer + "/Contents/MacOS/Wayfarer",
                                      QFile::ReadOwner | QFile::WriteOwner);
     },
     "is not a built Wayfarer bundle"},
    {"link_inside_wayfarer",
     [](PackSetup &s) { return link("Info.plist", s.wayfarer + "/Contents/Resources/copy.plist"); },
     "copy.plist is a symbolic link"},
    {"link_inside_unspool",
     [](PackSetup &s) { return link("Info.plist", s.unspool + "/Contents/Resources/copy.plist"); },
     "Unspool.app/Contents/Resources/copy.plist is a symbolic link"},
};

class PackerRefusal : public ::testing::TestWithParam<Refusal>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        setup.root = tmp.path();
        setup.unspool = tmp.filePath("bundles/Unspool.app");
        setup.wayfarer = tmp.filePath("bundles/Wayfarer.app");
        setup.content = tmp.filePath("content");
        setup.name = "Lesson";
        setup.output = tmp.filePath("out");
        ASSERT_TRUE(writeFakeBundle(setup.unspool, "Unspool"));
        ASSERT_TRUE(writeFakeBundle(setup.wayfarer, "Wayfarer"));
        ASSERT_TRUE(QDir().mkpath(setup.wayfarer + "/Contents/Resources"));
        ASSERT_TRUE(QDir().mkpath(setup.unspool + "/Contents/Resources"));
        ASSERT_TRUE(testfiles::write(setup.content + "/index.html", "<h1>Start</h1>"));
        ASSERT_TRUE(testfiles::write(setup.content + "/style.css", "body {}"));
        ASSERT_TRUE(testfiles::write(setup.content + "/images/river.svg", "<svg/>"));
    }

    QTemporaryDir tmp;
    PackSetup setup;
};

TEST_P(PackerRefusal, RefusesWithOneClearLineAndLeavesNothing)
{
    PackSetup control = setup;
    control.output = tmp.filePath("control");
    const PackerRun good = runPacker(control.arguments());
    ASSERT_EQ(good.exitCode, 0) << "positive control: " << good.err.constData();

    ASSERT_TRUE(GetParam().fault(setup));
    const QStringList before = listing(tmp.path());
    const PackerRun run = runPacker(setup.arguments());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.constData();
    EXPECT_TRUE(run.err.startsWith("lesson-pack: ")) << run.err.constData();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    EXPECT_TRUE(run.err.contains(GetParam().message)) << run.err.constData();
    EXPECT_EQ(listing(tmp.path()).join("\n").toStdString(), before.join("\n").toStdString())
        << "the run left traces";
}

INSTANTIATE_TEST_SUITE_P(Table, PackerRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

struct Usage {
    const char *name;
    QStringList arguments;
    int exitCode;
    const char *out; // part of standard output
    const char *err; // part of standard error; empty when nothing may appear there
};

std::ostream &operator<<(std::ostream &os, const Usage &u)
{
    return os << u.name << " (" << u.arguments.join(' ').toStdString() << ")";
}

const Usage kUsages[] = {
    {"help", {"--help"}, 0, "--installer <pkg>", ""},
    {"short_help", {"-h"}, 0, "--replace", ""},
    {"version", {"--version"}, 0, "lesson-pack " LESSON_PACK_VERSION, ""},
    {"no_arguments", {}, 1, "", "expected a content folder, a lesson name and an output folder"},
    {"two_arguments", {"content", "Lesson"}, 1, "", "expected a content folder"},
    {"four_arguments", {"content", "Lesson", "out", "more"}, 1, "", "expected a content folder"},
    {"unknown_option", {"--frobnicate", "a", "b", "c"}, 1, "", "Unknown option 'frobnicate'"},
    {"installer_without_package", {"--installer"}, 1, "", "Missing value after '--installer'"},
};

class PackerUsage : public ::testing::TestWithParam<Usage>
{
};

TEST_P(PackerUsage, AnswersTheCommandLine)
{
    const Usage &u = GetParam();
    const PackerRun run = runPacker(u.arguments);
    EXPECT_EQ(run.exitCode, u.exitCode) << run.err.constData();
    EXPECT_TRUE(run.out.contains(u.out)) << run.out.constData();
    if (*u.err == '\0') {
        EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    } else {
        EXPECT_TRUE(run.err.contains(u.err)) << run.err.constData();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PackerUsage, ::testing::ValuesIn(kUsages),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
