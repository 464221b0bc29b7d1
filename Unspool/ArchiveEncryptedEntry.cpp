#include "ArchiveEncryptedEntry.h"

#include <algorithm>
#include <cstring>

#include <unzip.h>
#include <zlib.h>

struct ArchiveEncryptedEntry::Inflater {
    Inflater() { ok = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() { inflateEnd(&stream); }
    z_stream stream{};
    bool ok = false;
};

ArchiveEncryptedEntry::ArchiveEncryptedEntry(void *unzFile, const QByteArray &password,
                                             unsigned long method, std::uint64_t declaredSize,
                                             std::uint32_t declaredCrc)
    : _unzFile(unzFile), _cipher(password), _declaredSize(declaredSize), _declaredCrc(declaredCrc)
{
    if (method == Z_DEFLATED) {
        _inflater = std::make_unique<Inflater>();
        _damaged = !_inflater->ok;
    }
}

ArchiveEncryptedEntry::~ArchiveEncryptedEntry() = default;

// Reads and decrypts the next piece of the entry, passing over the encryption header.
bool ArchiveEncryptedEntry::refill()
{
    const int n = unzReadCurrentFile(_unzFile, _input, sizeof _input);
    if (n < 0)
        return false;
    _inputEnded = n == 0;
    _cipher.decrypt(_input, static_cast<std::size_t>(n));
    const std::size_t skipped = std::min(_headerLeft, static_cast<std::size_t>(n));
    _headerLeft -= skipped;
    _next = _input + skipped;
    _available = static_cast<unsigned>(static_cast<std::size_t>(n) - skipped);
    return true;
}

int ArchiveEncryptedEntry::produce(char *out, unsigned size)
{
    if (!_inflater) {
        const unsigned n = std::min(size, _available);
        std::memcpy(out, _next, n);
        _next += n;
        _available -= n;
        return static_cast<int>(n);
    }
    z_stream &stream = _inflater->stream;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(_next));
    stream.avail_in = _available;
    stream.next_out = reinterpret_cast<Bytef *>(out);
    stream.avail_out = size;
    const int result = inflate(&stream, Z_SYNC_FLUSH);
    _next = reinterpret_cast<const char *>(stream.next_in);
    _available = stream.avail_in;
    if (result == Z_STREAM_END)
        _streamEnded = true;
    else if (result != Z_OK && result != Z_BUF_ERROR)
        return -1;
    return static_cast<int>(size - stream.avail_out);
}

int ArchiveEncryptedEntry::read(char *out, unsigned size)
{
    if (_damaged)
        return Z_DATA_ERROR;
    for (;;) {
        const std::uint64_t left = _declaredSize - _produced;
        if (left == 0 || _streamEnded)
            return 0;
        if (_available == 0 && !_inputEnded && !refill())
            return Z_DATA_ERROR;
        const unsigned before = _available;
        const int n = produce(out, static_cast<unsigned>(std::min<std::uint64_t>(size, left)));
        if (n < 0 || (n == 0 && before > 0 && _available == before)) { // no progress: damage
            _damaged = true;
            return Z_DATA_ERROR;
        }
        if (n > 0) {
            _crc = static_cast<std::uint32_t>(crc32(_crc, reinterpret_cast<Bytef *>(out), n));
            _produced += static_cast<std::uint64_t>(n);
            return n;
        }
        if (_inputEnded && _available == 0)
            return 0; // nothing more can come: a short entry
    }
}
