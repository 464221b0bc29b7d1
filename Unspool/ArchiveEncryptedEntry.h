#pragma once

#include "ArchiveCipher.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

// An encrypted entry, opened raw in minizip: its bytes are read 4096 at a time,
// decrypted, and inflated (or, when stored, copied), stopping at the declared size
// just as minizip does for plain entries.
class ArchiveEncryptedEntry
{
  public:
    ArchiveEncryptedEntry(void *unzFile, const QByteArray &password, unsigned long method,
                          std::uint64_t declaredSize, std::uint32_t declaredCrc);
    ~ArchiveEncryptedEntry();
    ArchiveEncryptedEntry(const ArchiveEncryptedEntry &) = delete;
    ArchiveEncryptedEntry &operator=(const ArchiveEncryptedEntry &) = delete;

    // As unzReadCurrentFile: bytes placed in `out`, 0 at the end, negative on damage.
    int read(char *out, unsigned size);

    // Whether what came out matches the declared CRC.
    bool crcMatches() const { return _crc == _declaredCrc; }

  private:
    bool refill();
    int produce(char *out, unsigned size);

    struct Inflater;
    void *_unzFile;
    ArchiveCipher _cipher;
    std::unique_ptr<Inflater> _inflater; // null for a stored entry
    std::uint64_t _declaredSize;
    std::uint32_t _declaredCrc;
    std::uint64_t _produced = 0;
    std::uint32_t _crc = 0;
    std::size_t _headerLeft = ArchiveCipher::kHeaderSize;
    char _input[4096];
    const char *_next = _input;
    unsigned _available = 0;
    bool _inputEnded = false;
    bool _streamEnded = false;
    bool _damaged = false;
};
