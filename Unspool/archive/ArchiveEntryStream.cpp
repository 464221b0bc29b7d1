#include "Unspool/archive/ArchiveEntryStream.h"

#include "Unspool/archive/ArchiveInputFile.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <zlib.h>

struct ArchiveEntryStream::Inflater {
    Inflater() { ok = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (ok)
            inflateEnd(&stream);
    }
    z_stream stream{};
    bool ok = false;
};

ArchiveEntryStream::ArchiveEntryStream(ArchiveInputFile &input)
    : m_input(input), m_inflater(std::make_unique<Inflater>())
{
}

ArchiveEntryStream::~ArchiveEntryStream() = default;

bool ArchiveEntryStream::start(const ArchiveIndex::Entry &entry, const QByteArray &password)
{
    m_deflated = entry.method == Z_DEFLATED;
    m_position = entry.dataOffset;
    m_storedLeft = entry.compressedSize;
    m_contentLeft = entry.uncompressedSize;
    m_next = nullptr;
    m_available = 0;
    // An empty file may come as a deflated entry without any deflate stream.
    m_streamEnded = m_deflated && entry.compressedSize == 0 && entry.uncompressedSize == 0;
    m_damaged = false;
    m_endedExactly = false;
    m_cipher.reset();
    m_headerLeft = 0;
    if (!password.isEmpty()) {
        m_cipher.emplace(password);
        m_headerLeft = ArchiveCipher::kHeaderSize;
    }
    if (m_deflated && (!m_inflater->ok || inflateReset(&m_inflater->stream) != Z_OK))
        m_damaged = true;
    return m_deflated || entry.method == 0;
}

// Takes the next piece of stored bytes, decrypting it and passing over the
// encryption header. False when the archive ends inside the entry or cannot be read.
bool ArchiveEntryStream::refill()
{
    std::size_t got = 0;
    const char *piece = m_input.view(
        m_position, static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, m_storedLeft)), got);
    if (!piece || got == 0)
        return false;
    m_position += got;
    m_storedLeft -= got;
    if (m_cipher) {
        std::memcpy(m_decrypted, piece, got);
        m_cipher->decrypt(m_decrypted, got);
        piece = m_decrypted;
    }
    const std::size_t skipped = std::min(m_headerLeft, got);
    m_headerLeft -= skipped;
    m_next = piece + skipped;
    m_available = got - skipped;
    return true;
}

long ArchiveEntryStream::produce(char *out, std::size_t size)
{
    if (!m_deflated) {
        const std::size_t n = std::min(size, m_available);
        std::memcpy(out, m_next, n);
        m_next += n;
        m_available -= n;
        return static_cast<long>(n);
    }
    z_stream &stream = m_inflater->stream;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(m_next));
    stream.avail_in = static_cast<uInt>(m_available);
    stream.next_out = reinterpret_cast<Bytef *>(out);
    stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    const uInt room = stream.avail_out;
    const int result = inflate(&stream, Z_SYNC_FLUSH);
    m_next = reinterpret_cast<const char *>(stream.next_in);
    m_available = stream.avail_in;
    if (result == Z_STREAM_END)
        m_streamEnded = true;
    else if (result != Z_OK && result != Z_BUF_ERROR)
        return -1;
    return static_cast<long>(room - stream.avail_out);
}

// The declared content is out: the entry must end right here. A deflate stream
// must finish without another byte of output, and no stored byte may be left. An
// empty entry may still hold its whole encryption header.
bool ArchiveEntryStream::endsHere()
{
    while (m_headerLeft > 0) {
        if (m_storedLeft == 0 || !refill())
            return false;
    }
    char spare = 0;
    while (m_deflated && !m_streamEnded) {
        if (m_available == 0) {
            if (m_storedLeft == 0 || !refill())
                return false;
            continue;
        }
        const std::size_t before = m_available;
        if (produce(&spare, 1) != 0 || (!m_streamEnded && m_available == before))
            return false; // more content than declared, damage, or no way on
    }
    return m_available == 0 && m_storedLeft == 0 && m_headerLeft == 0;
}

long ArchiveEntryStream::read(char *out, std::size_t size)
{
    if (m_damaged)
        return -1;
    for (;;) {
        if (m_contentLeft == 0 || m_streamEnded) {
            m_endedExactly = m_contentLeft == 0 && endsHere();
            return 0;
        }
        if (m_available == 0 && m_storedLeft > 0) {
            if (!refill()) {
                m_damaged = true;
                return -1;
            }
            if (m_available == 0)
                continue; // all of it was encryption header
        }
        // With every stored byte taken, the inflater may still hold output back.
        if (m_available == 0 && !m_deflated)
            return 0; // the stored bytes ran out: a short entry
        const std::size_t before = m_available;
        const long n =
            produce(out, static_cast<std::size_t>(std::min<std::uint64_t>(size, m_contentLeft)));
        if (n < 0) {
            m_damaged = true;
            return -1;
        }
        if (n > 0) {
            m_contentLeft -= static_cast<std::uint64_t>(n);
            return n;
        }
        if (m_available == before) { // no progress
            if (before == 0)
                return 0; // nothing more can come: a short entry
            m_damaged = true;
            return -1;
        }
    }
}
