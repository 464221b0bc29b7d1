#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

// Sets the process's time zone (TZ) for as long as it lives, then puts the old
// one back. Tests of local-time conversions use a zone that differs from UTC.
class ScopedTimeZone
{
  public:
    explicit ScopedTimeZone(const char *zone) : m_saved(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_saved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_saved);
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

  private:
    QByteArray m_saved;
};
