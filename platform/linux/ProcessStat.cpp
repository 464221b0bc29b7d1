#include "platform/linux/ProcessStat.h"

#include <climits>
#include <vector>

namespace platform::procfs
{

namespace
{

// Decimal digits to their value; nullopt for anything else or beyond `most`.
std::optional<unsigned long long> decimal(std::string_view digits, unsigned long long most)
{
    if (digits.empty())
        return std::nullopt;
    unsigned long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const unsigned digit = unsigned(c - '0');
        if (value > (most - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// The blank-separated fields of the text after the name.
std::vector<std::string_view> fieldsOf(std::string_view rest)
{
    std::vector<std::string_view> fields;
    std::size_t start = rest.find_first_not_of(" \n");
    while (start != std::string_view::npos) {
        const std::size_t end = rest.find_first_of(" \n", start);
        fields.push_back(rest.substr(start, end - start));
        start = end == std::string_view::npos ? end : rest.find_first_not_of(" \n", end);
    }
    return fields;
}

} // namespace

std::optional<ProcessStat> parseProcessStat(std::string_view text)
{
    const std::size_t open = text.find(" (");
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2)
        return std::nullopt;
    // After the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt
    // cmajflt utime stime cutime cstime priority nice threads itrealvalue starttime.
    constexpr std::size_t kParent = 1, kStartTime = 19;
    const std::vector<std::string_view> fields = fieldsOf(text.substr(close + 1));
    if (fields.size() <= kStartTime || fields[0].size() != 1)
        return std::nullopt;
    const auto pid = decimal(text.substr(0, open), INT_MAX);
    const auto parent = decimal(fields[kParent], INT_MAX);
    const auto startTime = decimal(fields[kStartTime], ULLONG_MAX);
    if (!pid || !parent || !startTime)
        return std::nullopt;
    return ProcessStat{int(*pid), std::string(text.substr(open + 2, close - open - 2)),
                       fields[0][0], int(*parent), *startTime};
}

} // namespace platform::procfs
