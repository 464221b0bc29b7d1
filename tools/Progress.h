#pragma once

#include <QString>

#include <cstdint>
#include <cstdio>

namespace lessonpack
{

// "packing 12/40 files" on standard error. On a terminal the line is rewritten in
// place as entries are done; otherwise (a log, a pipe) only the final line appears,
// so logs are not flooded.
class Progress
{
  public:
    Progress(std::FILE *stream, bool isTerminal);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void update(qsizetype done, qsizetype total);
    // "writing the lesson file 12/30 MB", rewritten as whole megabytes go by.
    void updateBytes(std::uint64_t done, std::uint64_t total);
    // Ends the progress line with `message`.
    void finish(const QString &message);
    // Clears a half-written progress line, so that an error message starts afresh.
    void abandon();

    // Standard error, rewritten in place when it is a terminal.
    static Progress forStandardError();

  private:
    std::FILE *m_stream;
    bool m_isTerminal;
    bool m_lineOpen = false;
    std::uint64_t m_shownMegabytes = UINT64_MAX;
};

} // namespace lessonpack
