#include "ArchiveEntryStream.h"

#include "ArchiveInputFile.h"

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
    : _input(input), _inflater(std::make_unique<Inflater>())
{
}

ArchiveEntryStream::~ArchiveEntryStream() = default;

bool ArchiveEntryStream::start(const Entry &entry)
{
    _deflated = entry.method == Z_DEFLATED;
    _position = entry.offset;
    _storedLeft = entry.storedSize;
    _contentLeft = entry.declaredSize;
    _next = nullptr;
    _available = 0;
    // An empty file may come as a deflated entry without any deflate stream.
    _streamEnded = _deflated && entry.storedSize == 0 && entry.declaredSize == 0;
    _damaged = false;
    _endedExactly = false;
    _cipher.reset();
    _headerLeft = 0;
    if (!entry.password.isEmpty()) {
        _cipher.emplace(entry.password);
        _headerLeft = ArchiveCipher::kHeaderSize;
    }
    if (_deflated && (!_inflater->ok || inflateReset(&_inflater->stream) != Z_OK))
        _damaged = true;
    return _deflated || entry.method == 0;
}

// Takes the next piece of stored bytes, decrypting it and passing over the
// encryption header. False when the archive ends inside the entry or cannot be read.
bool ArchiveEntryStream::refill()
{
    std::size_t got = 0;
    const char *piece = _input.view(
        _position, static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, _storedLeft)), got);
    if (!piece || got == 0)
        return false;
    _position += got;
    _storedLeft -= got;
    if (_cipher) {
        std::memcpy(_decrypted, piece, got);
        _cipher->decrypt(_decrypted, got);
        piece = _decrypted;
    }
    const std::size_t skipped = std::min(_headerLeft, got);
    _headerLeft -= skipped;
    _next = piece + skipped;
    _available = got - skipped;
    return true;
}

long ArchiveEntryStream::produce(char *out, std::size_t size)
{
    if (!_deflated) {
        const std::size_t n = std::min(size, _available);
        std::memcpy(out, _next, n);
        _next += n;
        _available -= n;
        return static_cast<long>(n);
    }
    z_stream &stream = _inflater->stream;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(_next));
    stream.avail_in = static_cast<uInt>(_available);
    stream.next_out = reinterpret_cast<Bytef *>(out);
    stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    const uInt room = stream.avail_out;
    const int result = inflate(&stream, Z_SYNC_FLUSH);
    _next = reinterpret_cast<const char *>(stream.next_in);
    _available = stream.avail_in;
    if (result == Z_STREAM_END)
        _streamEnded = true;
    else if (result != Z_OK && result != Z_BUF_ERROR)
        return -1;
    return static_cast<long>(room - stream.avail_out);
}

// The declared content is out: the entry must end right here. A deflate stream
// must finish without another byte of output, and no stored byte may be left. An
// empty entry may still hold its whole encryption header.
bool ArchiveEntryStream::endsHere()
{
    while (_headerLeft > 0) {
        if (_storedLeft == 0 || !refill())
            return false;
    }
    char spare = 0;
    while (_deflated && !_streamEnded) {
        if (_available == 0) {
            if (_storedLeft == 0 || !refill())
                return false;
            continue;
        }
        const std::size_t before = _available;
        if (produce(&spare, 1) != 0 || (!_streamEnded && _available == before))
            return false; // more content than declared, damage, or no way on
    }
    return _available == 0 && _storedLeft == 0 && _headerLeft == 0;
}

long ArchiveEntryStream::read(char *out, std::size_t size)
{
    if (_damaged)
        return -1;
    for (;;) {
        if (_contentLeft == 0 || _streamEnded) {
            _endedExactly = _contentLeft == 0 && endsHere();
            return 0;
        }
        if (_available == 0 && _storedLeft > 0) {
            if (!refill()) {
                _damaged = true;
                return -1;
            }
            if (_available == 0)
                continue; // all of it was encryption header
        }
        // With every stored byte taken, the inflater may still hold output back.
        if (_available == 0 && !_deflated)
            return 0; // the stored bytes ran out: a short entry
        const std::size_t before = _available;
        const long n =
            produce(out, static_cast<std::size_t>(std::min<std::uint64_t>(size, _contentLeft)));
        if (n < 0) {
            _damaged = true;
            return -1;
        }
        if (n > 0) {
            _contentLeft -= static_cast<std::uint64_t>(n);
            return n;
        }
        if (_available == before) { // no progress
            if (before == 0)
                return 0; // nothing more can come: a short entry
            _damaged = true;
            return -1;
        }
    }
}
