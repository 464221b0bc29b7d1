#include "Unspool/archive/ArchiveTime.h"

#include <unzip.h>
#include <zip.h>

namespace ArchiveTime
{

time_t LocalTimeConverter::toEpoch(unsigned long dosDate, const tm_unz &fields)
{
    if (m_haveLast && dosDate == m_lastDosDate)
        return m_lastEpoch;
    struct tm local {
    };
    local.tm_sec = static_cast<int>(fields.tm_sec);
    local.tm_min = static_cast<int>(fields.tm_min);
    local.tm_hour = static_cast<int>(fields.tm_hour);
    local.tm_mday = static_cast<int>(fields.tm_mday);
    local.tm_mon = static_cast<int>(fields.tm_mon);
    local.tm_year = static_cast<int>(fields.tm_year) - 1900;
    local.tm_isdst = -1; // whether summer time applies is the time zone's business
    m_lastEpoch = mktime(&local);
    m_lastDosDate = dosDate;
    m_haveLast = true;
    return m_lastEpoch;
}

void fillZipDate(time_t mtime, tm_zip &fields)
{
    fields = tm_zip{};
    struct tm local {
    };
    if (!localtime_r(&mtime, &local))
        return;
    fields.tm_sec = static_cast<uInt>(local.tm_sec);
    fields.tm_min = static_cast<uInt>(local.tm_min);
    fields.tm_hour = static_cast<uInt>(local.tm_hour);
    fields.tm_mday = static_cast<uInt>(local.tm_mday);
    fields.tm_mon = static_cast<uInt>(local.tm_mon);
    fields.tm_year = static_cast<uInt>(local.tm_year + 1900);
}

} // namespace ArchiveTime
