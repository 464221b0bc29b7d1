// An entry's content read back from its stored bytes, whatever room the caller
// offers per read: a deflate stream can hold back output (the rest of a match)
// after its last input byte is taken, and that output must still come out.
#include "ArchiveCipher.h"
#include "ArchiveEntryStream.h"
#include "ArchiveInputFile.h"
#include "TestFiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zlib.h>

namespace
{

// Long runs and long matches, so matches end across any read boundary.
QByteArray sampleContent()
{
    QByteArray content;
    QRandomGenerator random(11);
    while (content.size() < 300000) {
        content += QByteArray(static_cast<qsizetype>(random.bounded(1, 600)), 'a');
        content += QByteArray::number(random.generate());
        content += "the same phrase again and again, ";
    }
    return content;
}

QByteArray rawDeflate(const QByteArray &content)
{
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, content.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.truncate(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

struct StreamCase {
    const char *what;
    bool deflated;
    bool encrypted;
    std::size_t room; // offered per read
};

std::ostream &operator<<(std::ostream &os, const StreamCase &c)
{
    return os << c.what;
}

class EntryStream : public ::testing::TestWithParam<StreamCase>
{
  protected:
    // Writes the stored bytes after a prefix, opens the file as minizip would,
    // and starts a stream on them.
    void SetUp() override
    {
        const StreamCase &c = GetParam();
        content = sampleContent();
        QByteArray stored = c.deflated ? rawDeflate(content) : content;
        ASSERT_FALSE(stored.isEmpty());
        if (c.encrypted) {
            ArchiveCipher cipher(password);
            const auto crc = static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef *>(content.constData()),
                      static_cast<uInt>(content.size())));
            QByteArray header = cipher.header(crc);
            cipher.encrypt(stored.data(), static_cast<std::size_t>(stored.size()));
            stored.prepend(header);
        }
        entry.offset = prefix.size();
        entry.storedSize = static_cast<std::uint64_t>(stored.size());
        entry.declaredSize = static_cast<std::uint64_t>(content.size());
        entry.method = c.deflated ? Z_DEFLATED : 0;
        entry.password = c.encrypted ? password : QByteArray();
        const QString path = folder.path() + "/archive";
        ASSERT_TRUE(testfiles::write(path, prefix + stored + "trailing bytes"));
        functions = input.functions();
        file = functions.zopen64_file(functions.opaque, QFile::encodeName(path).constData(),
                                      ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
        ASSERT_NE(file, nullptr);
    }
    void TearDown() override
    {
        if (file)
            functions.zclose_file(functions.opaque, file);
    }

    // Everything the stream gives at GetParam().room per read; -1 in `failed` on damage.
    QByteArray readAll(ArchiveEntryStream &stream, bool &failed)
    {
        QByteArray out;
        QByteArray room(static_cast<qsizetype>(GetParam().room), '\0');
        failed = false;
        for (;;) {
            const long n = stream.read(room.data(), static_cast<std::size_t>(room.size()));
            if (n < 0)
                failed = true;
            if (n <= 0)
                return out;
            out.append(room.constData(), n);
        }
    }

    const QByteArray prefix = QByteArray(1000, 'p');
    const QByteArray password = "secret";
    QTemporaryDir folder;
    QByteArray content;
    ArchiveInputFile input;
    zlib_filefunc64_def functions{};
    voidpf file = nullptr;
    ArchiveEntryStream::Entry entry;
};

TEST_P(EntryStream, GivesTheWholeContentThenEnds)
{
    ArchiveEntryStream stream(input);
    ASSERT_TRUE(stream.start(entry));
    bool failed = false;
    EXPECT_EQ(readAll(stream, failed), content);
    EXPECT_FALSE(failed);
}

TEST_P(EntryStream, StopsAtTheDeclaredSize)
{
    ArchiveEntryStream stream(input);
    entry.declaredSize = 123457;
    ASSERT_TRUE(stream.start(entry));
    bool failed = false;
    EXPECT_EQ(readAll(stream, failed), content.left(123457));
    EXPECT_FALSE(failed);
}

TEST_P(EntryStream, EndsShortWhenTheStoredBytesRunOut)
{
    ArchiveEntryStream stream(input);
    entry.storedSize /= 2;
    ASSERT_TRUE(stream.start(entry));
    bool failed = false;
    const QByteArray out = readAll(stream, failed);
    EXPECT_LT(out.size(), content.size());
    EXPECT_EQ(out, content.left(out.size()));
}

TEST_P(EntryStream, OneStreamServesEntryAfterEntry)
{
    ArchiveEntryStream stream(input);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(stream.start(entry));
        bool failed = false;
        EXPECT_EQ(readAll(stream, failed), content) << "entry " << i;
    }
}

const StreamCase kStreamCases[] = {
    {"deflated_1_byte_reads", true, false, 1},
    {"deflated_7_byte_reads", true, false, 7},
    {"deflated_4096_byte_reads", true, false, 4096},
    {"deflated_1MiB_reads", true, false, 1 << 20},
    {"stored_7_byte_reads", false, false, 7},
    {"stored_1MiB_reads", false, false, 1 << 20},
    {"encrypted_deflated_1_byte_reads", true, true, 1},
    {"encrypted_deflated_1MiB_reads", true, true, 1 << 20},
    {"encrypted_stored_5_byte_reads", false, true, 5},
};

INSTANTIATE_TEST_SUITE_P(Rooms, EntryStream, ::testing::ValuesIn(kStreamCases),
                         [](const auto &info) { return std::string(info.param.what); });

TEST(EntryStreamMethods, OnlyStoredAndDeflateStart)
{
    ArchiveInputFile input;
    ArchiveEntryStream stream(input);
    ArchiveEntryStream::Entry entry;
    for (const unsigned long method : {0ul, 8ul})
        EXPECT_TRUE(stream.start((entry.method = method, entry)));
    for (const unsigned long method : {1ul, 9ul, 12ul, 99ul})
        EXPECT_FALSE(stream.start((entry.method = method, entry)));
}

} // namespace
