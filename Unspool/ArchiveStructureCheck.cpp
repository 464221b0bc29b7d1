#include "ArchiveStructureCheck.h"

namespace ArchiveStructureCheck
{

QString refusalReason(const QByteArray &, const QByteArray &, bool)
{
    return {};
}

} // namespace ArchiveStructureCheck
