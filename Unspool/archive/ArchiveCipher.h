#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The traditional ZIP encryption (a stream cipher keyed by the password). The
// minizip this system is built against leaves it out, so entries are encrypted
// and decrypted here, around minizip's raw entry access.
class ArchiveCipher
{
  public:
    explicit ArchiveCipher(const QByteArray &password);

    void encrypt(char *data, std::size_t size);
    void decrypt(char *data, std::size_t size);

    // The 12 bytes that precede an entry's data, already encrypted: ten random
    // bytes, then the two high bytes of the entry's CRC, by which readers recognise
    // the right password.
    QByteArray header(std::uint32_t crc);

    static constexpr std::size_t kHeaderSize = 12;

  private:
    void update(unsigned char plain);
    unsigned char keystream() const;

    std::uint32_t m_keys[3];
};
