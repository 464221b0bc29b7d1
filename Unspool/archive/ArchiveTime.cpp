#include "Unspool/archive/ArchiveTime.h"

#include <zip.h>

namespace ArchiveTime
{

time_t LocalTimeConverter::toEpoch(unsigned long dosDate)
{
    if (m_haveLast && dosDate == m_lastDosDate)
        return m_lastEpoch;
    const auto field = [dosDate](int shift, unsigned long mask) {
        return static_cast<int>(dosDate >> shift & mask);
    };
    struct tm local {
    };
    local.tm_sec = field(0, 0x1F) * 2;
    local.tm_min = field(5, 0x3F);
    local.tm_hour = field(11, 0x1F);
    local.tm_mday = field(16, 0x1F);
    local.tm_mon = field(21, 0x0F) - 1;
    local.tm_year = field(25, 0x7F) + 80;
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
