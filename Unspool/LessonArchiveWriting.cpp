#include "Unspool/LessonArchive.h"

#include "Unspool/archive/ArchiveSourceFile.h"
#include "Unspool/archive/ArchiveTime.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdint>

#include <zip.h>
#include <zlib.h>

namespace
{

// Names beyond ASCII are flagged as UTF-8, so other tools read them as they were given.
uLong nameFlags(const QByteArray &name)
{
    constexpr uLong kUtf8Name = 1 << 11;
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? 0 : kUtf8Name;
}

bool addPlainEntry(zipFile archive, const QByteArray &name, const zip_fileinfo &record,
                   const ArchiveSourceFile &source)
{
    // zipOpenNewFileInZip's own settings, plus the name flag.
    if (zipOpenNewFileInZip4(archive, name.constData(), &record, nullptr, 0, nullptr, 0, nullptr,
                             Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
                             Z_DEFAULT_STRATEGY, nullptr, 0, 0, nameFlags(name)) != ZIP_OK)
        return false;
    if (zipWriteInFileInZip(archive, source.content.constData(),
                            static_cast<unsigned>(source.content.size())) != ZIP_OK)
        return false;
    return zipCloseFileInZip(archive) == ZIP_OK;
}

// Compressed and encrypted here, then handed to minizip raw with the encryption
// flag; the CRC comes first because the encryption header carries part of it.
bool addEncryptedEntry(zipFile archive, const QByteArray &name, const zip_fileinfo &record,
                       const ArchiveSourceFile &source, const QByteArray &password)
{
    constexpr uLong kEncrypted = 1;
    const std::uint32_t crc = source.crc();
    const QByteArray data = source.encryptedEntryData(password, crc);
    if (data.isNull() || data.size() > UINT_MAX)
        return false;
    if (zipOpenNewFileInZip4(archive, name.constData(), &record, nullptr, 0, nullptr, 0, nullptr,
                             Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8,
                             Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                             nameFlags(name) | kEncrypted) != ZIP_OK)
        return false;
    if (zipWriteInFileInZip(archive, data.constData(), static_cast<unsigned>(data.size())) !=
        ZIP_OK)
        return false;
    return zipCloseFileInZipRaw(archive, static_cast<uLong>(source.content.size()), crc) == ZIP_OK;
}

} // namespace

bool LessonArchive::CreateZipFile2(const QString &path)
{
    _zipFile = zipOpen(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    return _zipFile != nullptr;
}

bool LessonArchive::CreateZipFile2(const QString &path, const QString &password)
{
    _password = password;
    return CreateZipFile2(path);
}

bool LessonArchive::addFileToZip(const QString &file, const QString &newname)
{
    if (!_zipFile)
        return false;
    ArchiveSourceFile source;
    if (!source.read(QFile::encodeName(file)) || source.content.size() > UINT_MAX)
        return false;

    zip_fileinfo record{};
    ArchiveTime::fillZipDate(source.modified, record.tmz_date);
    const QByteArray name = newname.toUtf8();
    const QByteArray password = passwordBytes();
    return password.isEmpty() ? addPlainEntry(_zipFile, name, record, source)
                              : addEncryptedEntry(_zipFile, name, record, source, password);
}

bool LessonArchive::CloseZipFile2()
{
    _password.clear();
    if (!_zipFile)
        return false;
    const int closed = zipClose(_zipFile, nullptr);
    _zipFile = nullptr;
    return closed == ZIP_OK;
}
