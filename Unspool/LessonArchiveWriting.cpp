#include "Unspool/LessonArchive.h"

#include "Unspool/archive/ArchiveSourceFile.h"
#include "Unspool/archive/ArchiveZipWriter.h"

#include <QFile>

void LessonArchive::ZipWriterRelease::operator()(ArchiveZipWriter *writer) const
{
    delete writer;
}

// An archive still being written is replaced, never finished.
bool LessonArchive::CreateZipFile2(const QString &path)
{
    _zipFile.reset(ArchiveZipWriter::create(QFile::encodeName(path)).release());
    return _zipFile != nullptr;
}

bool LessonArchive::CreateZipFile2(const QString &path, const QString &password)
{
    _password = password;
    return CreateZipFile2(path);
}

// The file is read whole first: with a password the CRC must precede the data, and
// one read gives both from the same bytes; a file that cannot be read adds nothing.
bool LessonArchive::addFileToZip(const QString &file, const QString &newname)
{
    if (!_zipFile)
        return false;
    ArchiveSourceFile source;
    if (!source.read(QFile::encodeName(file)))
        return false;
    const QByteArray password = passwordBytes();
    const ArchiveZipWriter::Entry entry{
        newname.toUtf8(), source.modified,
        source.mode,      static_cast<std::uint64_t>(source.content.size()),
        password,         password.isEmpty() ? 0 : source.crc()};
    return _zipFile->begin(entry) &&
           _zipFile->write(source.content.constData(),
                           static_cast<std::size_t>(source.content.size())) &&
           _zipFile->end();
}

bool LessonArchive::CloseZipFile2()
{
    _password.clear();
    if (!_zipFile)
        return false;
    const bool finished = _zipFile->finish();
    _zipFile.reset();
    return finished;
}
