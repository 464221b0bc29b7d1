#pragma once

#include <ctime>

struct tm_zip_s;

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

// The six date fields minizip takes for a new entry: `mtime` broken down in local
// time, month counted from 0, year in full. All zero when `mtime` is out of range.
void fillZipDate(time_t mtime, tm_zip_s &fields);

} // namespace ArchiveTime
