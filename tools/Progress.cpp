#include "Progress.h"

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
