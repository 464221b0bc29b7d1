#include "Unspool/archive/ArchiveTime.h"

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

std::uint32_t dosDateTime(time_t mtime)
{
    constexpr std::uint32_t kFirst = (1 << 5 | 1) << 16; // 1 January 1980, midnight
    constexpr std::uint32_t kLast = (127u << 9 | 12 << 5 | 31) << 16 | (23 << 11 | 59 << 5 | 29);
    struct tm local {
    };
    if (!localtime_r(&mtime, &local) || local.tm_year < 80)
        return kFirst;
    if (local.tm_year > 207)
        return kLast;
    const auto date = static_cast<std::uint32_t>((local.tm_year - 80) << 9 |
                                                 (local.tm_mon + 1) << 5 | local.tm_mday);
    const auto time =
        static_cast<std::uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

} // namespace ArchiveTime
