#include "Quiesce/core/root_helper/Protocol.h"

#include <algorithm>
#include <climits>

namespace roothelper
{

namespace
{

bool allDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isProcessIdentifier(std::string_view text)
{
    if (!allDigits(text) || text[0] == '0' || text.size() > 10)
        return false;
    return std::stoll(std::string(text)) <= INT_MAX;
}

// Clock ticks after boot, as /proc/<pid>/stat gives them: digits without a
// leading zero (a lone "0" allowed), within 64 bits.
bool isStartTime(std::string_view text)
{
    if (!allDigits(text) || text.size() > 20 || (text.size() > 1 && text[0] == '0'))
        return false;
    return parseDecimal(text).has_value();
}

// Absolute only: under pkexec the working folder is not ours to choose, and a
// leading '/' also keeps the path from being read as an option.
bool isRemovablePath(std::string_view path)
{
    if (path.empty() || path[0] != '/')
        return false;
    return path.find_first_not_of('/') != std::string_view::npos;
}

} // namespace

std::optional<unsigned long long> parseDecimal(std::string_view digits)
{
    if (!allDigits(digits))
        return std::nullopt;
    unsigned long long value = 0;
    for (const char c : digits) {
        const unsigned digit = unsigned(c - '0');
        if (value > (ULLONG_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::string encodeRequest(const Request &request)
{
    std::string payload;
    for (const std::string &field : request) {
        if (field.find('\0') != std::string::npos)
            return {};
        payload += field;
        payload += '\0';
    }
    if (payload.empty() || payload.size() > kMaxPayload)
        return {};
    return std::to_string(payload.size()) + '\n' + payload;
}

std::optional<std::size_t> parseLength(std::string_view digits)
{
    if (!allDigits(digits) || digits.size() > kMaxLengthDigits)
        return std::nullopt;
    const std::size_t length = std::stoul(std::string(digits));
    if (length == 0 || length > kMaxPayload)
        return std::nullopt;
    return length;
}

std::optional<Request> parsePayload(std::string_view payload)
{
    if (payload.empty() || payload.back() != '\0')
        return std::nullopt;
    Request fields;
    std::size_t start = 0;
    for (std::size_t end = payload.find('\0'); end != std::string_view::npos;
         end = payload.find('\0', start)) {
        fields.emplace_back(payload.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool isPermitted(const Request &request)
{
    if (request.empty())
        return false;
    const std::string &tool = request[0];
    if (tool == "/bin/sleep")
        return request.size() == 2 && allDigits(request[1]) && request[1].size() <= 4;
    if (tool == "/bin/kill")
        return request.size() == 4 && request[1] == "-9" && isProcessIdentifier(request[2]) &&
               isStartTime(request[3]);
    if (tool == "/bin/rm")
        return request.size() == 3 && request[1] == "-rf" && isRemovablePath(request[2]);
    return false;
}

} // namespace roothelper
