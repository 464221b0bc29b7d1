#include "tools/Progress.h"

#include <unistd.h>

namespace lessonpack
{

Progress::Progress(std::FILE *stream, bool isTerminal) : m_stream(stream), m_isTerminal(isTerminal)
{
}

Progress::~Progress()
{
    abandon();
}

Progress Progress::forStandardError()
{
    return Progress(stderr, ::isatty(STDERR_FILENO) == 1);
}

void Progress::update(qsizetype done, qsizetype total)
{
    if (!m_isTerminal)
        return;
    std::fprintf(m_stream, "\r\033[Kpacking %lld/%lld files", static_cast<long long>(done),
                 static_cast<long long>(total));
    std::fflush(m_stream);
    m_lineOpen = true;
}

void Progress::updateBytes(std::uint64_t done, std::uint64_t total)
{
    constexpr std::uint64_t kMegabyte = 1000 * 1000;
    if (!m_isTerminal || done / kMegabyte == m_shownMegabytes)
        return;
    m_shownMegabytes = done / kMegabyte;
    std::fprintf(m_stream, "\r\033[Kwriting the lesson file %llu/%llu MB",
                 static_cast<unsigned long long>(m_shownMegabytes),
                 static_cast<unsigned long long>((total + kMegabyte - 1) / kMegabyte));
    std::fflush(m_stream);
    m_lineOpen = true;
}

void Progress::finish(const QString &message)
{
    abandon();
    std::fprintf(m_stream, "%s\n", message.toLocal8Bit().constData());
    std::fflush(m_stream);
}

void Progress::abandon()
{
    if (!m_lineOpen)
        return;
    std::fputs("\r\033[K", m_stream);
    std::fflush(m_stream);
    m_lineOpen = false;
}

} // namespace lessonpack
