#pragma once

#include "Unspool/archive/ArchiveCipher.h"
#include "Unspool/archive/ArchiveIndex.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class ArchiveInputFile;

// An entry's content, from its stored bytes in the archive file: they are taken
// 4096 at a time, decrypted when the entry is encrypted, and inflated (or, when
// stored, copied) straight into the caller's buffer, as much as it has room for.
// The content stops at the declared size, at the end of the deflate stream, or
// where the stored bytes run out, whichever comes first; endedExactly() then tells
// whether all three met. One stream serves entry after entry, so the inflater is
// made once.
class ArchiveEntryStream
{
  public:
    explicit ArchiveEntryStream(ArchiveInputFile &input);
    ~ArchiveEntryStream();
    ArchiveEntryStream(const ArchiveEntryStream &) = delete;
    ArchiveEntryStream &operator=(const ArchiveEntryStream &) = delete;

    // Starts reading `entry` as the index has it: its stored bytes (an encryption
    // header first), stored and declared size and method. An empty `password` means
    // it is not encrypted. False when the method is neither stored nor deflate.
    bool start(const ArchiveIndex::Entry &entry, const QByteArray &password);

    // Up to `size` bytes of content placed in `out`; 0 at the end, negative when
    // the data is damaged or the archive cannot be read.
    long read(char *out, std::size_t size);

    // After read() gave 0: the declared size was reached exactly where the entry
    // ends, its deflate stream finished and every stored byte taken. An entry
    // holding more than it declares fails this even when the part read is sound.
    bool endedExactly() const { return m_endedExactly; }

    static constexpr std::size_t kPiece = 4096;

  private:
    bool refill();
    bool endsHere();
    long produce(char *out, std::size_t size);

    struct Inflater;
    ArchiveInputFile &m_input;
    std::unique_ptr<Inflater> m_inflater;
    bool m_deflated = false;
    std::optional<ArchiveCipher> m_cipher;
    char m_decrypted[kPiece];

    std::uint64_t m_position = 0;   // of the next stored byte in the file
    std::uint64_t m_storedLeft = 0; // stored bytes not yet taken
    std::uint64_t m_contentLeft = 0;
    std::size_t m_headerLeft = 0;
    const char *m_next = nullptr;
    std::size_t m_available = 0;
    bool m_streamEnded = false;
    bool m_damaged = false;
    bool m_endedExactly = false;
};
