// The one name policy, seen from both ends: each row runs the real packer on a
// file or lesson name, then the real extraction (Unspool's controller and archive
// code) on an archive carrying that name, and both must agree: the packer takes a
// name exactly when Unspool unpacks it as named.
#include "ControllerTestSupport.h"
#include "PackerHarness.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace packertest;

namespace
{

enum class Packer { Packed, Skipped, Refused };
enum class Unspool { AsNamed, Elsewhere, Refused, NotTried };

struct PolicyRow {
    const char *name;
    bool isLessonName; // the value names the lesson, not a file in its content
    QByteArray value;
    Packer packer;       // without --keep-all
    const char *message; // part of the packer's one line on standard error
    Packer keepAll;      // with --keep-all
    Unspool unspool;     // an archive carrying the name, extracted
};

std::ostream &operator<<(std::ostream &os, const PolicyRow &row)
{
    return os << row.name << " (" << (row.isLessonName ? "lesson " : "file ")
              << row.value.toPercentEncoding(" /").toStdString() << ")";
}

const QByteArray kEsc = "esc\x1b[31mred.html";

const PolicyRow kRows[] = {
    // Content file names.
    {"plain", false, "notes.html", Packer::Packed, "", Packer::Packed, Unspool::AsNamed},
    {"accents", false, "Le\xc3\xa7on.html", Packer::Packed, "", Packer::Packed, Unspool::AsNamed},
    {"leading_dot", false, ".hidden.html", Packer::Packed, "", Packer::Packed, Unspool::AsNamed},
    {"backslash", false, "back\\slash.html", Packer::Refused, "backslash", Packer::Refused,
     Unspool::Elsewhere},
    {"line_break", false, "two\nlines.html", Packer::Refused, "control character", Packer::Refused,
     Unspool::Refused},
    {"escape", false, kEsc, Packer::Refused, "control character", Packer::Refused,
     Unspool::Refused},
    // Unspool would unpack it as named; the archive flags its names as UTF-8.
    {"not_utf8", false, "caf\xe9.html", Packer::Refused, "not valid UTF-8", Packer::Refused,
     Unspool::NotTried},
    {"ds_store", false, ".DS_Store", Packer::Skipped, "desktop litter", Packer::Packed,
     Unspool::AsNamed},
    {"icon_return", false, "Icon\r", Packer::Skipped, "desktop litter", Packer::Refused,
     Unspool::Refused},
    {"macosx_folder", false, "__MACOSX/notes.html", Packer::Skipped, "__MACOSX (desktop",
     Packer::Packed, Unspool::AsNamed},
    {"apple_double", false, "._notes.html", Packer::Skipped, "desktop litter", Packer::Packed,
     Unspool::AsNamed},
    {"git_folder", false, ".git/config", Packer::Skipped, ".git (desktop", Packer::Packed,
     Unspool::AsNamed},
    {"backup", false, "notes.html~", Packer::Skipped, "desktop litter", Packer::Packed,
     Unspool::AsNamed},
    // Lesson names.
    {"lesson_plain", true, "Rivers", Packer::Packed, "", Packer::Packed, Unspool::AsNamed},
    {"lesson_accents", true, "R\xc3\xado y Lagos", Packer::Packed, "", Packer::Packed,
     Unspool::AsNamed},
    {"lesson_leading_dot", true, ".hidden lesson", Packer::Packed, "", Packer::Packed,
     Unspool::AsNamed},
    {"lesson_empty", true, "", Packer::Refused, "the lesson name is empty", Packer::Refused,
     Unspool::Refused},
    {"lesson_dot", true, ".", Packer::Refused, "is not a folder name", Packer::Refused,
     Unspool::Refused},
    {"lesson_dot_dot", true, "..", Packer::Refused, "is not a folder name", Packer::Refused,
     Unspool::Refused},
    {"lesson_slash", true, "rivers/lakes", Packer::Refused, "contains \"/\"", Packer::Refused,
     Unspool::Refused},
    {"lesson_backslash", true, "rivers\\lakes", Packer::Refused, "contains \"\\\"", Packer::Refused,
     Unspool::Refused},
    {"lesson_dot_dot_backslash", true, "..\\escape", Packer::Refused, "contains \"\\\"",
     Packer::Refused, Unspool::Refused},
    {"lesson_line_break", true, "two\nlines", Packer::Refused, "control character", Packer::Refused,
     Unspool::Refused},
    {"lesson_delete", true, "a\x7f", Packer::Refused, "control character", Packer::Refused,
     Unspool::Refused},
};

bool exists(const QByteArray &path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0;
}

// A file at `relative` below `folder`, its folders made on the way, all as bytes.
bool plant(const QByteArray &folder, const QByteArray &relative)
{
    QByteArray path = folder;
    const QList<QByteArray> parts = relative.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += '/' + parts[i];
        if (::mkdir(path.constData(), 0755) != 0)
            return false;
    }
    const int fd =
        ::open((path + '/' + parts.last()).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && ::write(fd, "data", 4) == 4 && ::close(fd) == 0;
}

class NamePolicy : public ControllerTest, public ::testing::WithParamInterface<PolicyRow>
{
  public:
    void SetUp() override
    {
        ControllerTest::SetUp();
        unspoolBundle = root.filePath("bundles/Unspool.app");
        wayfarerBundle = root.filePath("bundles/Wayfarer.app");
        content = root.filePath("content");
        ASSERT_TRUE(writeFakeBundle(unspoolBundle, "Unspool"));
        ASSERT_TRUE(writeFakeBundle(wayfarerBundle, "Wayfarer"));
        ASSERT_TRUE(testfiles::write(content + "/index.html", "<h1>Start</h1>"));
    }

    QString lessonName() const
    {
        return GetParam().isLessonName ? QString::fromUtf8(GetParam().value)
                                       : QStringLiteral("Lesson");
    }

    PackerRun pack(const QString &output, bool keepAll) const
    {
        QStringList arguments{"--unspool", unspoolBundle, "--wayfarer", wayfarerBundle};
        if (keepAll)
            arguments << "--keep-all";
        return runPacker(arguments + QStringList{content, lessonName(), output});
    }

    static Packer verdict(const PackerRun &run)
    {
        if (run.exitCode != 0)
            return Packer::Refused;
        return run.err.contains("skipping") ? Packer::Skipped : Packer::Packed;
    }

    // The archive Unspool gets: the packer's own, or one a second tool wrote with
    // the name the packer refused.
    bool installLesson(const QString &packed)
    {
        if (!packed.isEmpty()) {
            bundle.archive = archivePath();
            return QFile::copy(packed + "/Contents/Resources/archive.zip", archivePath());
        }
        QList<lessonzip::Entry> entries = lessonzip::lessonEntries();
        if (!GetParam().isLessonName)
            entries.append({"pagewright_files/" + QString::fromUtf8(GetParam().value), "data",
                            lessonzip::sampleTime()});
        return installArchive(entries);
    }

    Unspool extract()
    {
        bundle.displayNameValue = lessonName();
        auto controller = makeController();
        runToEnd(*controller);
        if (!alerts.sheets.empty()) {
            EXPECT_EQ(alerts.sheets.front().text.informativeText,
                      "Error: The lesson archive could not be extracted.");
            return Unspool::Refused;
        }
        const QByteArray lesson = QFile::encodeName(expectedLessonFolder());
        const QByteArray file =
            GetParam().isLessonName ? QByteArray("index.html") : GetParam().value;
        return exists(lesson + "/pagewright_files/" + file) ? Unspool::AsNamed : Unspool::Elsewhere;
    }

    QString unspoolBundle, wayfarerBundle, content;
};

TEST_P(NamePolicy, PackerAndUnspoolAgree)
{
    const PolicyRow &row = GetParam();
    if (!row.isLessonName) {
        ASSERT_TRUE(plant(QFile::encodeName(content), row.value));
    }

    const PackerRun run = pack(root.filePath("out"), false);
    EXPECT_EQ(verdict(run), row.packer) << run.err.constData();
    if (row.packer != Packer::Packed) {
        // One line for the refusal, or one per item skipped (the last tells what was packed).
        const QByteArray line = run.err.left(run.err.indexOf('\n') + 1);
        EXPECT_EQ(run.err.count("lesson-pack: "), row.packer == Packer::Refused ? 1 : 2)
            << run.err.constData();
        EXPECT_TRUE(line.startsWith("lesson-pack: ") && line.contains(row.message))
            << run.err.constData();
    }
    const PackerRun kept = pack(root.filePath("kept"), true);
    EXPECT_EQ(verdict(kept), row.keepAll) << kept.err.constData();

    if (row.unspool == Unspool::NotTried)
        return;
    // The table's point: what the packer takes, Unspool unpacks as named.
    EXPECT_EQ(row.keepAll == Packer::Packed, row.unspool == Unspool::AsNamed);
    const QString packed = root.filePath("kept/") + lessonName() + ".app";
    ASSERT_TRUE(installLesson(verdict(kept) == Packer::Packed ? packed : QString()));
    const QStringList before = listing(temporary.folder);
    EXPECT_EQ(extract(), row.unspool);
    if (row.unspool == Unspool::Refused && row.isLessonName) {
        EXPECT_EQ(listing(temporary.folder), before) << "a refused lesson wrote something";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, NamePolicy, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
