#include "Unspool/archive/ArchiveCipher.h"

#include <QRandomGenerator>

#include <zlib.h>

namespace
{

std::uint32_t crcStep(std::uint32_t crc, unsigned char byte)
{
    static const z_crc_t *const table = get_crc_table();
    return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

} // namespace

ArchiveCipher::ArchiveCipher(const QByteArray &password)
    : m_keys{305419896u, 591751049u, 878082192u}
{
    for (const char c : password)
        update(static_cast<unsigned char>(c));
}

void ArchiveCipher::update(unsigned char plain)
{
    m_keys[0] = crcStep(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = crcStep(m_keys[2], static_cast<unsigned char>(m_keys[1] >> 24));
}

unsigned char ArchiveCipher::keystream() const
{
    const std::uint32_t temp = (m_keys[2] & 0xFFFF) | 2;
    return static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
}

void ArchiveCipher::encrypt(char *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const auto plain = static_cast<unsigned char>(data[i]);
        data[i] = static_cast<char>(plain ^ keystream());
        update(plain);
    }
}

void ArchiveCipher::decrypt(char *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const auto plain =
            static_cast<unsigned char>(static_cast<unsigned char>(data[i]) ^ keystream());
        data[i] = static_cast<char>(plain);
        update(plain);
    }
}

QByteArray ArchiveCipher::header(std::uint32_t crc)
{
    QByteArray bytes(kHeaderSize, '\0');
    QRandomGenerator *random = QRandomGenerator::system();
    for (std::size_t i = 0; i < kHeaderSize - 2; ++i)
        bytes[i] = static_cast<char>(random->bounded(256));
    bytes[kHeaderSize - 2] = static_cast<char>((crc >> 16) & 0xFF);
    bytes[kHeaderSize - 1] = static_cast<char>((crc >> 24) & 0xFF);
    encrypt(bytes.data(), kHeaderSize);
    return bytes;
}
