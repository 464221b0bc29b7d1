#pragma once

#include <cstdint>
#include <ctime>

// Conversions between DOS time stamps (local wall-clock time, two-second steps)
// and file times.
namespace ArchiveTime
{

// Seconds since the epoch for a DOS time stamp (the date in the high half, the time
// in the low) read as local time in the Gregorian calendar. Consecutive entries
// usually share a stamp, so the last conversion is kept and reused for the same one.
class LocalTimeConverter
{
  public:
    time_t toEpoch(unsigned long dosDate);

  private:
    unsigned long m_lastDosDate = 0;
    time_t m_lastEpoch = 0;
    bool m_haveLast = false;
};

// `mtime` as a new entry's DOS time: local time, date in the upper 16 bits, an odd
// second dropped. A time before 1980 or after 2107, which DOS times cannot hold, is
// held at the nearer end.
std::uint32_t dosDateTime(time_t mtime);

} // namespace ArchiveTime
