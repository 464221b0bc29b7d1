#include "Unspool/archive/ArchiveZipWriter.h"

#include "Unspool/archive/ArchiveCipher.h"
#include "Unspool/archive/ArchiveRecordLayout.h"
#include "Unspool/archive/ArchiveTime.h"
#include "foundation_ext/FileIO.h"

#include <algorithm>
#include <fcntl.h>
#include <optional>

#include <zlib.h>

using namespace ArchiveRecord;

namespace
{

// Little-endian fields, appended in the order a record lays them out.
struct Fields {
    QByteArray bytes;
    template <typename T> Fields &operator<<(T value)
    {
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bytes.append(static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i)));
        return *this;
    }
};

std::uint32_t field32(std::uint64_t value)
{
    return value < kIn64BitRecord ? static_cast<std::uint32_t>(value) : kIn64BitRecord;
}

std::uint16_t flagsOf(const ArchiveZipWriter::Entry &entry)
{
    const bool ascii = std::all_of(entry.name.begin(), entry.name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return static_cast<std::uint16_t>((ascii ? 0 : kUtf8Name) |
                                      (entry.password.isEmpty() ? 0 : kEncrypted));
}

bool putAt(int fd, const QByteArray &bytes, std::uint64_t at)
{
    return ::pwrite(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()),
                    static_cast<off_t>(at)) == bytes.size();
}

} // namespace

struct ArchiveZipWriter::OpenEntry {
    OpenEntry(const Entry &given, std::uint64_t at)
        : entry(given), offset(at), dosTime(ArchiveTime::dosDateTime(given.modified)),
          flags(flagsOf(given)),
          // Deflate may grow incompressible data a little; an entry whose stored bytes
          // could reach 4 GiB needs a ZIP64 block in its local header from the start.
          zip64(compressBound(static_cast<uLong>(given.size)) >= kIn64BitRecord)
    {
    }
    ~OpenEntry()
    {
        if (deflating)
            deflateEnd(&stream);
    }
    OpenEntry(const OpenEntry &) = delete;
    OpenEntry &operator=(const OpenEntry &) = delete;

    Entry entry;
    std::uint64_t offset; // of its local header
    std::uint32_t dosTime;
    std::uint16_t flags;
    bool zip64;
    z_stream stream{};
    bool deflating = false;
    std::optional<ArchiveCipher> cipher;
    std::uint32_t crc = 0;
    std::uint64_t size = 0, stored = 0;
};

ArchiveZipWriter::ArchiveZipWriter(FileDescriptor file) : m_file(std::move(file)) {}

ArchiveZipWriter::~ArchiveZipWriter() = default;

std::unique_ptr<ArchiveZipWriter> ArchiveZipWriter::create(const QByteArray &path)
{
    FileDescriptor file(::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.isOpen())
        return nullptr;
    return std::unique_ptr<ArchiveZipWriter>(new ArchiveZipWriter(std::move(file)));
}

bool ArchiveZipWriter::begin(const Entry &entry)
{
    if ((m_entry && !drop()) || !m_file.isOpen() || entry.name.size() > 0xFFFF)
        return false;
    m_entry = std::make_unique<OpenEntry>(entry, m_offset);
    OpenEntry &e = *m_entry;
    e.deflating = deflateInit2(&e.stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                               Z_DEFAULT_STRATEGY) == Z_OK;
    // The CRC and sizes are filled in when the entry ends.
    const std::uint32_t size32 = e.zip64 ? kIn64BitRecord : 0;
    Fields header;
    header << kLocalSignature << (e.zip64 ? kVersionZip64 : kVersionDeflate) << e.flags << kDeflated
           << e.dosTime << std::uint32_t{0} << size32 << size32
           << static_cast<std::uint16_t>(entry.name.size())
           << static_cast<std::uint16_t>(e.zip64 ? kZip64LocalExtraSize : 0);
    header.bytes += entry.name;
    if (e.zip64)
        header << kZip64ExtraId << static_cast<std::uint16_t>(kZip64LocalExtraSize - 4)
               << std::uint64_t{0} << std::uint64_t{0};
    if (!entry.password.isEmpty()) {
        header.bytes += e.cipher.emplace(entry.password).header(entry.crc);
        e.stored = ArchiveCipher::kHeaderSize;
    }
    if (!e.deflating || !append(header.bytes))
        return failEntry();
    return true;
}

bool ArchiveZipWriter::write(const char *data, std::size_t size)
{
    if (!m_entry)
        return false;
    OpenEntry &e = *m_entry;
    e.crc = static_cast<std::uint32_t>(
        crc32_z(e.crc, reinterpret_cast<const Bytef *>(data), static_cast<z_size_t>(size)));
    e.size += size;
    while (size > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        e.stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        e.stream.avail_in = piece;
        if (!deflateInto(Z_NO_FLUSH))
            return failEntry();
        data += piece;
        size -= piece;
    }
    return true;
}

bool ArchiveZipWriter::end()
{
    if (!m_entry)
        return false;
    const OpenEntry &e = *m_entry;
    if (!deflateInto(Z_FINISH))
        return failEntry();
    const bool fits = e.zip64 || (e.size < kIn64BitRecord && e.stored < kIn64BitRecord);
    if (!fits || (e.cipher && e.crc != e.entry.crc) || !patchLocalHeader())
        return failEntry();
    addCentralRecord();
    m_entry.reset();
    ++m_count;
    return true;
}

bool ArchiveZipWriter::finish()
{
    if ((m_entry && !drop()) || !m_file.isOpen())
        return false;
    const std::uint64_t at = m_offset;
    const auto size = static_cast<std::uint64_t>(m_directory.size());
    Fields end;
    if (m_count >= kCountIn64BitRecord || at >= kIn64BitRecord || size >= kIn64BitRecord) {
        end << kEnd64Signature << kEnd64SizeCounted << kMadeOnUnix << kVersionZip64
            << std::uint32_t{0} << std::uint32_t{0} << m_count << m_count << size << at;
        end << kLocatorSignature << std::uint32_t{0} << at + size << std::uint32_t{1};
    }
    const auto count16 =
        static_cast<std::uint16_t>(std::min<std::uint64_t>(m_count, kCountIn64BitRecord));
    end << kEndSignature << std::uint16_t{0} << std::uint16_t{0} << count16 << count16
        << field32(size) << field32(at) << std::uint16_t{0};
    const bool written = append(m_directory) && append(end.bytes);
    m_file = FileDescriptor();
    return written;
}

// Runs the deflater until it has taken all it was given (or, finishing, until its
// stream ends), encrypting and writing what it puts out.
bool ArchiveZipWriter::deflateInto(int flush)
{
    OpenEntry &e = *m_entry;
    char out[65536];
    int result = Z_OK;
    do {
        e.stream.next_out = reinterpret_cast<Bytef *>(out);
        e.stream.avail_out = sizeof out;
        result = deflate(&e.stream, flush);
        if (result == Z_STREAM_ERROR)
            return false;
        const std::size_t produced = sizeof out - e.stream.avail_out;
        if (e.cipher)
            e.cipher->encrypt(out, produced);
        if (!append(QByteArray::fromRawData(out, static_cast<qsizetype>(produced))))
            return false;
        e.stored += produced;
    } while (flush == Z_FINISH ? result != Z_STREAM_END : e.stream.avail_out == 0);
    return true;
}

bool ArchiveZipWriter::append(const QByteArray &bytes)
{
    if (!writeAll(m_file.get(), bytes.constData(), static_cast<std::size_t>(bytes.size())))
        return false;
    m_offset += static_cast<std::uint64_t>(bytes.size());
    return true;
}

bool ArchiveZipWriter::patchLocalHeader()
{
    const OpenEntry &e = *m_entry;
    Fields crcAndSizes;
    crcAndSizes << e.crc;
    if (!e.zip64)
        crcAndSizes << field32(e.stored) << field32(e.size);
    Fields sizes64;
    sizes64 << e.size << e.stored;
    const std::uint64_t sizes64At =
        e.offset + kLocalHeaderSize + static_cast<std::uint64_t>(e.entry.name.size()) + 4;
    return putAt(m_file.get(), crcAndSizes.bytes, e.offset + kLocalCrcAt) &&
           (!e.zip64 || putAt(m_file.get(), sizes64.bytes, sizes64At));
}

void ArchiveZipWriter::addCentralRecord()
{
    const OpenEntry &e = *m_entry;
    Fields values64; // only those their 32-bit fields cannot hold, in this order
    if (e.size >= kIn64BitRecord)
        values64 << e.size;
    if (e.stored >= kIn64BitRecord)
        values64 << e.stored;
    if (e.offset >= kIn64BitRecord)
        values64 << e.offset;
    Fields extra;
    if (!values64.bytes.isEmpty())
        extra << kZip64ExtraId << static_cast<std::uint16_t>(values64.bytes.size());
    extra.bytes += values64.bytes;
    const bool zip64 = e.zip64 || !extra.bytes.isEmpty();
    Fields record;
    record << kCentralSignature << kMadeOnUnix << (zip64 ? kVersionZip64 : kVersionDeflate)
           << e.flags << kDeflated << e.dosTime << e.crc << field32(e.stored) << field32(e.size)
           << static_cast<std::uint16_t>(e.entry.name.size())
           << static_cast<std::uint16_t>(extra.bytes.size()) << std::uint16_t{0} << std::uint16_t{0}
           << std::uint16_t{0} // comment, disk, internal
           << (static_cast<std::uint32_t>(e.entry.mode & 0xFFFF) << 16) << field32(e.offset);
    m_directory += record.bytes + e.entry.name + extra.bytes;
}

bool ArchiveZipWriter::failEntry()
{
    drop();
    return false;
}

// Takes the entry being written out of the file again. When even that fails, the file
// is let go: nothing more can be written to it soundly.
bool ArchiveZipWriter::drop()
{
    const std::uint64_t at = m_entry->offset;
    m_entry.reset();
    m_offset = at;
    if (::ftruncate(m_file.get(), static_cast<off_t>(at)) == 0 &&
        ::lseek(m_file.get(), static_cast<off_t>(at), SEEK_SET) >= 0)
        return true;
    m_file = FileDescriptor();
    return false;
}
