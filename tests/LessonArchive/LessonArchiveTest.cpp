// The archive class: rules no run from outside can single out, and its public face
// against Info-ZIP and Python's zipfile.
#include "Unspool/LessonArchive.h"
#include "Unspool/archive/ArchiveEntryStream.h"
#include "Unspool/archive/ArchiveInputFile.h"
#include "Unspool/archive/ArchiveSpaceNeed.h"
#include "Unspool/archive/ArchiveZipWriter.h"
#include "naming/NamePolicy.h"
#include "tests/support/ChildRun.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <zlib.h>

namespace
{

template <class Row> using Table = ::testing::TestWithParam<Row>;

struct NameRow {
    const char *name;
    QByteArray raw;
    QList<QByteArray> components;
    bool isFolder, leadsOutside;
};
void PrintTo(const NameRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("raw", row.raw);
}
using EntryNames = Table<NameRow>;

TEST_P(EntryNames, SplitAsExpected)
{
    const NamePolicy::EntryPath name = NamePolicy::entryPath(GetParam().raw);
    EXPECT_EQ(name.components, GetParam().components);
    EXPECT_EQ(name.isFolder, GetParam().isFolder);
    EXPECT_EQ(name.leadsOutside, GetParam().leadsOutside);
}

const NameRow kNames[] = {
    {"folder_entry", "a\\b/", {"a", "b"}, true, false},
    {"absolute_doubled_and_dots", "/./a//./b", {"a", "b"}, false, false},
    {"empty_is_the_destination", "", {}, true, false},
    {"lone_dot_is_the_destination", ".", {}, true, false},
    {"parent_component", "a/../b", {"a", "..", "b"}, false, true},
    {"parent_through_backslashes", "..\\x", {"..", "x"}, false, true},
    {"dots_that_are_names", "...a/..b/c..", {"...a", "..b", "c.."}, false, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, EntryNames, ::testing::ValuesIn(kNames), rows::byName);

// ---- An entry's content, whatever room each read offers (an inflater can hold output
// back after the last stored byte); it ends exactly only where the declared size, the
// end of the deflate stream and the last stored byte meet.

struct StreamRow {
    const char *name;
    bool deflated, encrypted;
    std::size_t room;             // offered per read
    int declaredLess, storedMore; // the entry holds more than declared; bytes after it
    bool endsExactly;
};
void PrintTo(const StreamRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("deflated", row.deflated)("encrypted", row.encrypted)(
        "room", row.room)("declaredLess", row.declaredLess)("storedMore", row.storedMore);
}
using EntryStream = Table<StreamRow>;

TEST_P(EntryStream, GivesTheDeclaredContentAndTellsWhetherItEndedExactly)
{
    const StreamRow &row = GetParam();
    QByteArray content; // long runs and long matches end across any read boundary
    QRandomGenerator random(11);
    while (content.size() < 300000)
        content += QByteArray(random.bounded(1, 600), 'a') + QByteArray::number(random.generate()) +
                   "the same phrase again and again, ";
    const QByteArray zlibbed = qCompress(content, 9); // size, zlib header, stream, Adler-32
    QByteArray stored = row.deflated ? zlibbed.mid(6, zlibbed.size() - 10) : content;
    if (row.encrypted) {
        ArchiveCipher cipher("secret");
        const QByteArray header = cipher.header(static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef *>(content.constData()), uInt(content.size()))));
        cipher.encrypt(stored.data(), static_cast<std::size_t>(stored.size()));
        stored.prepend(header);
    }
    QTemporaryDir dir;
    ASSERT_TRUE(testfiles::write(dir.path() + "/a", QByteArray(1000, 'p') + stored + "more"));
    ArchiveInputFile input;
    ASSERT_TRUE(input.open(QFile::encodeName(dir.path() + "/a")));
    ArchiveIndex::Entry entry;
    entry.dataOffset = 1000;
    entry.compressedSize = std::uint64_t(stored.size() + row.storedMore);
    entry.uncompressedSize = std::uint64_t(content.size() - row.declaredLess);
    entry.method = row.deflated ? 8 : 0;
    ArchiveEntryStream stream(input);
    for (int pass = 0; pass < 2; ++pass) { // one stream serves entry after entry
        ASSERT_TRUE(stream.start(entry, row.encrypted ? "secret" : ""));
        QByteArray out, room(qsizetype(row.room), '\0');
        long n = 0;
        while ((n = stream.read(room.data(), row.room)) > 0)
            out.append(room.constData(), n);
        EXPECT_EQ(out, content.left(qsizetype(entry.uncompressedSize)));
        EXPECT_EQ(n == 0 && stream.endedExactly(), row.endsExactly) << "read gave " << n;
    }
}

const StreamRow kStreams[] = {
    {"deflated_1_byte_reads", true, false, 1, 0, 0, true},
    {"deflated_1MiB_reads", true, false, 1 << 20, 0, 0, true},
    {"encrypted_deflated_1_byte_reads", true, true, 1, 0, 0, true},
    {"encrypted_stored_5_byte_reads", false, true, 5, 0, 0, true},
    {"deflated_holding_more_than_declared", true, false, 4096, 100, 0, false},
    {"stored_holding_more_than_declared", false, false, 4096, 100, 0, false},
    {"encrypted_holding_more_than_declared", true, true, 4096, 100, 0, false},
    {"stored_bytes_after_the_deflate_stream", true, false, 4096, 0, 4, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, EntryStream, ::testing::ValuesIn(kStreams), rows::byName);

// ---- The room a run needs for a.bin of 1000 bytes, then ./b.bin of 3000.

struct SpaceRow {
    const char *name;
    bool a, b, hardLinkA, aLinksOut; // what earlier runs left
    std::uint64_t needed;
};
void PrintTo(const SpaceRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("a", row.a)("b", row.b)("hardLinkA", row.hardLinkA)("aLinksOut",
                                                                                   row.aLinksOut);
}
using SpaceNeeded = Table<SpaceRow>;

TEST_P(SpaceNeeded, CountsOnlyWhatAReplacementFrees)
{
    const SpaceRow &row = GetParam();
    QTemporaryDir box;
    const QString dest = box.path() + "/dest";
    ASSERT_TRUE(QDir().mkpath(dest));
    if (row.a)
        testfiles::write(dest + "/a.bin", QByteArray(1000, 'a'));
    if (row.b)
        testfiles::write(dest + "/b.bin", QByteArray(3000, 'b'));
    if (row.hardLinkA)
        ::link(QFile::encodeName(dest + "/a.bin"), QFile::encodeName(box.path() + "/hard"));
    testfiles::write(box.path() + "/big", QByteArray(5000, 'x'));
    if (row.aLinksOut)
        QFile::link(box.path() + "/big", dest + "/a.bin");
    const QList<ArchiveIndex::Entry> entries{{"a.bin", 0, 0, 0, 1000}, {"./b.bin", 0, 0, 0, 3000}};
    EXPECT_EQ(ArchiveSpaceNeed::bytesNeeded(entries, QFile::encodeName(dest)), row.needed);
}

const SpaceRow kSpace[] = {
    {"fresh_folder_every_entry_counts", false, false, false, false, 4000},
    // Everything is replaced, yet b.bin's old and new copies stand side by side.
    {"replaced_files_freed_only_after_their_entry", true, true, false, false, 3000},
    {"file_with_another_link_frees_nothing", true, true, true, false, 4000},
    {"link_frees_nothing_of_its_target", false, true, false, true, 4000},
};
INSTANTIATE_TEST_SUITE_P(Rows, SpaceNeeded, ::testing::ValuesIn(kSpace), rows::byName);

using Message = LessonArchiveDelegate::Message;
using Progress = QList<QPair<int, int>>;
const QList<Message> kMessages{Message::ErrorMessage, Message::ExtractionProgress,
                               Message::ExtractionComplete, Message::OverWriteOperation};

struct Recorder : LessonArchiveDelegate { // writes down what it is told
    bool respondsTo(Message message) const override { return taken.contains(message); }
    void ErrorMessage(const QString &message) override { errors.append(message); }
    bool OverWriteOperation(const QString &path) override { return asked.append(path), answer; }
    void ExtractionProgress(int done, int total) override { progress.append({done, total}); }
    void ExtractionComplete() override { ++completions; }
    QSet<Message> taken{kMessages.begin(), kMessages.end()};
    bool answer = true;
    QStringList errors, asked;
    Progress progress;
    int completions = 0;
};

// Runs `arguments` (a program on PATH first) in `folder`; true when it exits with 0.
bool tool(const QString &folder, const QStringList &arguments, QByteArray *output = nullptr)
{
    childrun::Spec spec;
    spec.program = "/bin/sh";
    spec.arguments = QStringList{"-c", "cd \"$0\" && exec \"$@\"", folder} + arguments;
    const childrun::Outcome run = childrun::run(spec);
    if (output)
        *output = run.output;
    return run.exited && run.exitCode == 0;
}

// What Python's zipfile reads of `archive`: per entry its name, flags, method, DOS time.
QJsonArray zipfileSees(const QString &archive)
{
    QByteArray out;
    const char *script = "import json, sys, zipfile\nprint(json.dumps([[i.filename, i.flag_bits, "
                         "i.compress_type, '%04d-%02d-%02d %02d:%02d:%02d' % i.date_time] "
                         "for i in zipfile.ZipFile(sys.argv[1]).infolist()]))";
    tool("/", {"python3", "-c", script, archive}, &out);
    return QJsonDocument::fromJson(out).array();
}

class Archive : public ::testing::Test
{
  protected:
    QString path(const QString &relative) const { return tmp.path() + '/' + relative; }
    bool extract(const QString &archive, const QString &dest, bool overWrite = true,
                 const QString &password = {})
    {
        LessonArchive zip;
        zip.setDelegate(&delegate);
        return (password.isEmpty() ? zip.UnzipOpenFile(path(archive))
                                   : zip.UnzipOpenFile(path(archive), password)) &&
               zip.UnzipFileTo(path(dest), overWrite);
    }
    QTemporaryDir tmp;
    Recorder delegate;
};
template <class Row> class ArchiveRows : public Archive, public ::testing::WithParamInterface<Row>
{
};

// ---- Writing: zipfile sees the names as given, encryption and the DOS time (local
// time less an odd second); Info-ZIP tests every entry and gives every name and mode back,
// as the entries say they were made on Unix; reading gives tree and time back.

struct WriteRow {
    const char *name, *password; // null: created without one
    bool encrypted;
    const char *mtime, *dos; // of every file, in UTC and as zipfile reads it
};
void PrintTo(const WriteRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("password", row.password)("mtime", row.mtime);
}
using Writing = ArchiveRows<WriteRow>;

QStringList withoutModes(QStringList tree)
{
    return tree.replaceInStrings(QRegularExpression(" mode=\\d+$"), "");
}

TEST_P(Writing, OtherToolsReadWhatWasWritten)
{
    const WriteRow &row = GetParam();
    const ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    QByteArray noise(200000, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const auto utf8 = [](const char *name) { return QString::fromUtf8(name); };
    const QList<std::tuple<QString, QByteArray, mode_t>> files{
        {"empty.txt", "", 0644},
        {"img/noise.bin", noise, 0600},
        {"docs/readme.txt", "read me", 0754},
        {utf8("caf\xc3\xa9/men\xc3\xba.html"), "m", 0640},
        {utf8("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt"), "j", 0755},
        {utf8("R\xc3\xado y Lagos/\xe2\x82\xac \xf0\x9f\x8c\x8a.html"), "r", 0604}};
    const qint64 mtime = QDateTime::fromString(row.mtime, Qt::ISODate).toSecsSinceEpoch();
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    const QString password = QString::fromUtf8(row.password);
    LessonArchive zip;
    ASSERT_TRUE(row.password ? zip.CreateZipFile2(path("ours.zip"), password)
                             : zip.CreateZipFile2(path("ours.zip")));
    QStringList names;
    for (const auto &[name, content, mode] : files) {
        const QString source = path("source/" + name);
        ASSERT_TRUE(testfiles::write(source, content) &&
                    ::chmod(QFile::encodeName(source), mode) == 0);
        ::utimensat(AT_FDCWD, QFile::encodeName(source), times, 0);
        ASSERT_TRUE(zip.addFileToZip(source, name));
        names.append(name);
    }
    ASSERT_TRUE(QDir().mkpath(path("folder")) && QFile::link(path("none"), path("dangling")));
    for (const char *unreadable : {"missing", "folder", "dangling"})
        EXPECT_FALSE(zip.addFileToZip(path(unreadable), unreadable)); // no silently empty file
    ASSERT_TRUE(zip.CloseZipFile2());

    QStringList seen;
    for (const QJsonValue entry : zipfileSees(path("ours.zip"))) {
        seen.append(entry[0].toString());
        EXPECT_EQ(entry[1].toInt() & 1, row.encrypted ? 1 : 0);
        EXPECT_EQ(entry[2].toInt(), 8); // deflated
        EXPECT_EQ(entry[3].toString(), row.dos);
    }
    EXPECT_EQ(seen, names);
    const QStringList key = row.encrypted ? QStringList{"-P", password} : QStringList{};
    EXPECT_TRUE(tool(tmp.path(), QStringList{"unzip", "-tq"} + key + QStringList{"ours.zip"}));
    ASSERT_TRUE(tool(tmp.path(), QStringList{"env", "LANG=C.UTF-8", "unzip", "-q"} + key +
                                     QStringList{"ours.zip", "-d", "infozip"}));
    EXPECT_EQ(testfiles::tree(path("infozip")), testfiles::tree(path("source")));
    ASSERT_TRUE(extract("ours.zip", "back", true, row.encrypted ? password : ""));
    EXPECT_EQ(withoutModes(testfiles::tree(path("back"))),
              withoutModes(testfiles::tree(path("source"))));
    EXPECT_EQ(QFileInfo(path("back/empty.txt")).lastModified().toSecsSinceEpoch(),
              mtime - mtime % 2);
    if (row.encrypted) { // a wrong password is no success and keeps what is there
        EXPECT_FALSE(extract("ours.zip", "back", true, "wrong"));
        EXPECT_EQ(delegate.errors.size(), 1);
        EXPECT_EQ(withoutModes(testfiles::tree(path("back"))),
                  withoutModes(testfiles::tree(path("source"))));
    }
}

const WriteRow kWrites[] = {
    {"no_password", nullptr, false, "2010-03-02T08:30:17Z", "2010-03-02 09:30:16"},
    {"password_encrypts_every_entry", "secret", true, "2009-06-30T12:05:58Z",
     "2009-06-30 14:05:58"},
    {"empty_password_stores_plainly", "", false, "2009-12-31T23:30:00Z", "2010-01-01 00:30:00"},
    {"password_beyond_ascii_counts_as_none", "p\xc3\xa4sswort", false, "2020-07-01T00:00:01Z",
     "2020-07-01 02:00:00"},
};
INSTANTIATE_TEST_SUITE_P(Rows, Writing, ::testing::ValuesIn(kWrites), rows::byName);

// ---- An entry that fails is cut off the file again: the archive comes out byte for byte
// as if only the good entry after it had been written.

struct DroppedRow {
    const char *name;
    bool ended; // or left open and the next entry begun
};
using DroppedEntries = ArchiveRows<DroppedRow>;

void PrintTo(const DroppedRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("ended", row.ended);
}

TEST_P(DroppedEntries, LeaveTheArchiveAsWithoutThem)
{
    const auto write = [&](const QString &name, bool withFailure) {
        const auto zip = ArchiveZipWriter::create(QFile::encodeName(path(name)));
        if (withFailure) { // its CRC is not its content's, which the encryption header holds
            EXPECT_TRUE(zip->begin({"bad.txt", 0, 0100644, 3, "secret", 1}) &&
                        zip->write("bad", 3));
            EXPECT_GT(QFileInfo(path(name)).size(), 0); // it was written, so far
            EXPECT_FALSE(GetParam().ended && zip->end());
        }
        return zip->begin({"good.txt", 0, 0100644, 4, {}, 0}) && zip->write("good", 4) &&
               zip->end() && zip->finish();
    };
    ASSERT_TRUE(write("plain.zip", false));
    ASSERT_TRUE(write("dropped.zip", true));
    EXPECT_EQ(testfiles::read(path("dropped.zip")), testfiles::read(path("plain.zip")));
}

const DroppedRow kDropped[] = {{"crc_not_as_announced", true}, {"never_ended", false}};
INSTANTIATE_TEST_SUITE_P(Rows, DroppedEntries, ::testing::ValuesIn(kDropped), rows::byName);

// ---- Times of an Info-ZIP archive made in Tokyo: where its extended timestamp is kept,
// the file's time is the source's to the second wherever it is read; without (-X) the DOS
// time counts, read as local time, in even seconds (Info-ZIP rounds an odd one up).

struct TimeRow {
    const char *name, *zipOptions, *readerZone;
    int later; // than the source's time, an odd second
};
void PrintTo(const TimeRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("zipOptions", row.zipOptions)("readerZone", row.readerZone);
}
using InfoZipTimes = ArchiveRows<TimeRow>;

TEST_P(InfoZipTimes, AreTheSourceFilesTimes)
{
    const TimeRow &row = GetParam();
    const qint64 mtime = 1246370759; // 2009-06-30 14:05:59 UTC
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_TRUE(testfiles::write(path("src/page.html"), "page"));
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path("src/page.html")), times, 0), 0);
    ASSERT_TRUE(
        tool(path("src"), {"env", "TZ=JST-9", "zip", row.zipOptions, "../t.zip", "page.html"}));
    const ScopedTimeZone zone(row.readerZone);
    ASSERT_TRUE(extract("t.zip", "dest"));
    EXPECT_EQ(QFileInfo(path("dest/page.html")).lastModified().toSecsSinceEpoch(),
              mtime + row.later);
}

const TimeRow kTimes[] = {
    {"extended_timestamp_in_utc", "-q", "PST8PDT", 0},
    {"dos_time_in_local_time", "-qX", "JST-9", 1},
};
INSTANTIATE_TEST_SUITE_P(Rows, InfoZipTimes, ::testing::ValuesIn(kTimes), rows::byName);

// ---- The delegate. In the archive: docs/ (a folder there: no question), keep.txt, new.txt.

struct OverwriteRow {
    const char *name;
    bool overWrite;
    int takes; // the first this many of kMessages
    bool answer;
    const char *kept;
    int questions, completions;
    Progress progress;
};
void PrintTo(const OverwriteRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("overWrite", row.overWrite)("takes", row.takes)("answer",
                                                                               row.answer);
}
using Overwrite = ArchiveRows<OverwriteRow>;

TEST_P(Overwrite, ReplacesOrSkipsAsDecided)
{
    const OverwriteRow &row = GetParam();
    ASSERT_TRUE(testfiles::write(path("src/keep.txt"), "new") &&
                testfiles::write(path("src/new.txt"), "n") && QDir().mkpath(path("src/docs")));
    ASSERT_TRUE(tool(path("src"), {"zip", "-q", "../a.zip", "docs", "keep.txt", "new.txt"}));
    ASSERT_TRUE(testfiles::write(path("dest/keep.txt"), "old") && QDir().mkpath(path("dest/docs")));
    delegate.taken = QSet<Message>(kMessages.begin(), kMessages.begin() + row.takes);
    delegate.answer = row.answer;
    ASSERT_TRUE(extract("a.zip", "dest", row.overWrite));
    EXPECT_EQ(testfiles::read(path("dest/keep.txt")), row.kept);
    EXPECT_EQ(testfiles::read(path("dest/new.txt")), "n");
    EXPECT_EQ(delegate.asked, QStringList(row.questions, path("dest/keep.txt")));
    EXPECT_EQ(delegate.progress, row.progress);
    EXPECT_EQ(delegate.completions, row.completions);
}

const Progress kAll{{1, 3}, {2, 3}, {3, 3}};
const OverwriteRow kOverwrites[] = {
    {"overwrite_yes_replaces_without_asking", true, 4, false, "new", 0, 1, kAll},
    {"delegate_that_cannot_answer_means_replace", false, 3, false, "new", 0, 1, kAll},
    {"delegate_answers_yes", false, 4, true, "new", 1, 1, kAll},
    {"delegate_answers_no_skipped_and_not_counted", false, 4, false, "old", 1, 1, {{1, 3}, {2, 3}}},
    {"delegate_taking_no_messages", false, 0, false, "new", 0, 0, {}},
};
INSTANTIATE_TEST_SUITE_P(Rows, Overwrite, ::testing::ValuesIn(kOverwrites), rows::byName);

// ---- A second open that fails leaves the archive open before as it was, its count and
// its password included; one that succeeds replaces it.

struct ReopenRow {
    const char *name;
    const char *second; // at the second path: null nothing, "zip" an archive, else these bytes
    bool opens;
    const char *extracted; // the source folder whose tree comes out
    int count;
};
using Reopen = ArchiveRows<ReopenRow>;

void PrintTo(const ReopenRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("second", row.second);
}

TEST_P(Reopen, FailureKeepsTheFirstArchive)
{
    const ReopenRow &row = GetParam();
    ASSERT_TRUE(testfiles::write(path("first/a.txt"), "a") &&
                testfiles::write(path("first/b/c.txt"), "c") &&
                testfiles::write(path("other/z.txt"), "z"));
    ASSERT_TRUE(tool(path("first"), {"zip", "-q", "-P", "pw", "../first.zip", "a.txt", "b/c.txt"}));
    const bool made =
        !row.second || (QByteArray(row.second) == "zip"
                            ? tool(path("other"), {"zip", "-q", "../second.zip", "z.txt"})
                            : testfiles::write(path("second.zip"), row.second));
    ASSERT_TRUE(made);
    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(path("first.zip"), "pw"));
    ASSERT_EQ(zip.getNumberOfEntries(), 2);
    EXPECT_EQ(zip.UnzipOpenFile(path("second.zip"), "wrong"), row.opens);
    EXPECT_EQ(zip.getNumberOfEntries(), row.count);
    EXPECT_TRUE(zip.UnzipFileTo(path("dest"), true)) << delegate.errors.join('|').toStdString();
    EXPECT_EQ(testfiles::tree(path("dest")), testfiles::tree(path(row.extracted)));
}

const ReopenRow kReopens[] = {
    {"second_archive_replaces_the_first", "zip", true, "other", 1},
    {"missing_second_keeps_the_first", nullptr, false, "first", 2},
    {"second_not_an_archive_keeps_the_first", "not an archive at all", false, "first", 2},
};
INSTANTIATE_TEST_SUITE_P(Rows, Reopen, ::testing::ValuesIn(kReopens), rows::byName);

// ---- Items of bundles are opened to everyone by the destination as given: a relative one
// is joined to the working folder as it stands, so the working folder's own name (here in
// x.app) does not count.

struct BundleModeRow {
    const char *name;
    const char *workingFolder, *destination; // below the temporary folder
    bool absolute;                           // the destination is given whole
    bool pageOpened;
};
using BundleModes = ArchiveRows<BundleModeRow>;

void PrintTo(const BundleModeRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("workingFolder", row.workingFolder)("destination", row.destination)(
        "absolute", row.absolute);
}

TEST_P(BundleModes, FollowTheDestinationAsGiven)
{
    const BundleModeRow &row = GetParam();
    ASSERT_TRUE(testfiles::write(path("src/page.html"), "p") &&
                testfiles::write(path("src/Lesson.app/run"), "r"));
    ASSERT_TRUE(tool(path("src"), {"zip", "-q", "../b.zip", "page.html", "Lesson.app/run"}));
    ASSERT_TRUE(QDir().mkpath(path(row.workingFolder)));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path(row.workingFolder)));
    const auto back = qScopeGuard([&before] { QDir::setCurrent(before); });
    LessonArchive zip;
    ASSERT_TRUE(zip.UnzipOpenFile(path("b.zip")));
    const QString dest = row.absolute ? path(row.destination)
                                      : QDir(path(row.workingFolder)).filePath(row.destination);
    ASSERT_TRUE(zip.UnzipFileTo(row.absolute ? dest : QString(row.destination), true));
    EXPECT_EQ(testfiles::modeOf(dest + "/Lesson.app/run") & 07777, 0777u);
    EXPECT_EQ((testfiles::modeOf(dest + "/page.html") & 07777) == 0777, row.pageOpened);
}

const BundleModeRow kBundleModes[] = {
    {"relative_from_a_working_folder_in_x_app", "x.app/work", "dest", false, false},
    {"relative_through_x_app", "work", "x.app/dest", false, true},
    {"absolute_through_x_app", "work", "x.app/dest", true, true},
};
INSTANTIATE_TEST_SUITE_P(Rows, BundleModes, ::testing::ValuesIn(kBundleModes), rows::byName);

// Read in many pieces from both ends; every entry counts once, in order, then completion.
// A byte flipped in the large file (the writer's own thread writes and sums most of it)
// then stops the run with the CRC text, and the earlier copy stays.
TEST_F(Archive, InfoZipLessonOfManyWindowsComesOutWholeCountingEveryEntry)
{
    QRandomGenerator random(7);
    QByteArray content;
    for (int i = 0; i <= 400; ++i) {
        content = QByteArray(i == 400 ? 5 << 20 : random.bounded(20000) & ~3, '\0');
        random.fillRange(reinterpret_cast<quint32 *>(content.data()), content.size() / 4);
        ASSERT_TRUE(testfiles::write(path(QStringLiteral("src/d%1/f%2").arg(i % 17).arg(i)),
                                     i % 3 ? content : content.toHex())); // hex compresses
    }
    ASSERT_TRUE(tool(path("src"), {"zip", "-q", "-r", "../big.zip", "."}));
    ASSERT_TRUE(extract("big.zip", "dest")) << delegate.errors.join('|').toStdString();
    EXPECT_EQ(testfiles::tree(path("dest")), testfiles::tree(path("src")));
    Progress expected;
    for (int done = 1; done <= 401 + 17; ++done) // files and folder entries
        expected.append({done, 401 + 17});
    EXPECT_EQ(delegate.progress, expected);
    EXPECT_EQ(delegate.completions, 1);

    QByteArray bytes = testfiles::read(path("big.zip"));
    const qsizetype at = bytes.indexOf(content.mid(1000, 64)); // stored as it is
    ASSERT_GT(at, 0);
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    ASSERT_TRUE(testfiles::write(path("big.zip"), bytes));
    EXPECT_FALSE(extract("big.zip", "dest"));
    EXPECT_EQ(delegate.errors, QStringList{"Error occurs: CRC check failed"});
    EXPECT_EQ(testfiles::tree(path("dest")), testfiles::tree(path("src")));
}

// The file opened is the file checked and read, even when another takes its name; a FIFO
// is not read (with no writer it would hang).
TEST_F(Archive, ReadsTheFileItOpenedAndNeverAFifo)
{
    ASSERT_TRUE(testfiles::write(path("src/a.txt"), "alpha"));
    ASSERT_TRUE(tool(path("src"), {"zip", "-q", "../a.zip", "a.txt"}));
    LessonArchive zip;
    ASSERT_TRUE(zip.UnzipOpenFile(path("a.zip")));
    ASSERT_TRUE(testfiles::write(path("other"), "not an archive at all"));
    ASSERT_EQ(::rename(QFile::encodeName(path("other")), QFile::encodeName(path("a.zip"))), 0);
    EXPECT_TRUE(zip.UnzipFileTo(path("dest"), true));
    EXPECT_EQ(testfiles::read(path("dest/a.txt")), "alpha");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.zip")), 0600), 0);
    EXPECT_FALSE(zip.UnzipOpenFile(path("pipe.zip")));
}

// The archive is changed in place once opened: past a large first entry minizip reads the
// directory afresh and walks to a record the index holds under another name. Nothing is
// written under the new name; the run stops at that entry.
TEST_F(Archive, EntryRenamedInTheFileAfterOpeningIsRefused)
{
    QByteArray noise(1 << 20, '\0'); // stored: it does not deflate
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    ASSERT_TRUE(testfiles::write(path("src/big.bin"), noise) &&
                testfiles::write(path("src/small.txt"), "small"));
    ASSERT_TRUE(tool(path("src"), {"zip", "-q", "../r.zip", "big.bin", "small.txt"}));
    ASSERT_TRUE(extract("r.zip", "control"));
    EXPECT_EQ(testfiles::tree(path("control")), testfiles::tree(path("src")));

    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(path("r.zip")));
    QFile file(path("r.zip"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const qint64 central = file.readAll().lastIndexOf("small.txt");
    ASSERT_TRUE(file.seek(central + 2) && file.write("e", 1) == 1 && file.flush());
    EXPECT_FALSE(zip.UnzipFileTo(path("dest"), true));
    EXPECT_EQ(delegate.errors, QStringList{"Error occurs: archive structure is damaged"});
    EXPECT_FALSE(QFileInfo::exists(path("dest/smell.txt")));
}

// Another thread keeps exchanging the top folder with a link to outside while the nested
// folders are made: none may land outside, whether the run fails or not.
TEST(SwappedLinks, NeverLeadFolderCreationOutside)
{
    QTemporaryDir tmp;
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(
            testfiles::write(QStringLiteral("%1/src/top/a%2/b/c/p").arg(tmp.path()).arg(i), "x"));
    ASSERT_TRUE(tool(tmp.path() + "/src", {"zip", "-q", "-r", "-0", "../nested.zip", "top"}));
    const QString outside = tmp.path() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside));
    LessonArchive zip;
    ASSERT_TRUE(zip.UnzipOpenFile(tmp.path() + "/nested.zip"));
    ASSERT_TRUE(zip.UnzipFileTo(tmp.path() + "/control", true)); // positive control
    const auto untouched = [&] { return testfiles::tree(outside).isEmpty(); };
    for (int run = 0; run < 100 && untouched(); ++run) {
        const QString destination = tmp.path() + QStringLiteral("/runs/%1").arg(run);
        const QByteArray top = QFile::encodeName(destination + "/top"), swap = top + "2";
        ASSERT_TRUE(QDir().mkpath(destination + "/top") && QFile::link(outside, swap));
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            while (!stop)
                ::renameat2(AT_FDCWD, top.constData(), AT_FDCWD, swap.constData(), RENAME_EXCHANGE);
        });
        zip.UnzipFileTo(destination, true); // fails whenever it meets the link
        stop = true;
        swapper.join();
    }
    EXPECT_TRUE(untouched()) << testfiles::tree(outside).join('\n').toStdString();
}

} // namespace
