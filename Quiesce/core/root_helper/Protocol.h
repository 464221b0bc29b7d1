#pragma once

// The pipe protocol between the installer helper and its root helper, shared by
// both sides. Plain C++ so that the root helper links nothing but the C library.
//
// A request is one record: the payload's length in decimal digits, a newline, then
// the payload: the tool's path and each argument, each followed by a NUL byte.
//   "13\n/bin/sleep\0" "0\0"
// The answer is one line: "1\n" when the tool was started (for a kill: the signal
// was delivered), "0\n" when the request was refused or could not be carried out.
//
// The root helper trusts nothing it reads: a malformed record ends it, only the
// request shapes accepted by `isPermitted` are considered, and each of those is
// checked again against the system before anything is done (Guard.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace roothelper
{

using Request = std::vector<std::string>; // tool path, then its arguments

constexpr std::size_t kMaxPayload = 4096;
constexpr std::size_t kMaxLengthDigits = 4;
constexpr char kStarted[] = "1\n";
constexpr char kNotStarted[] = "0\n";

// The record for a request; empty when it cannot be expressed (a NUL inside a
// field, an empty request, a payload above kMaxPayload).
std::string encodeRequest(const Request &request);

// The length line without its newline ("13") to the payload's length; nullopt
// unless it is 1 to kMaxLengthDigits decimal digits for a length of 1..kMaxPayload.
std::optional<std::size_t> parseLength(std::string_view digits);

// A payload to its fields; nullopt unless it is non-empty and ends with a NUL.
std::optional<Request> parsePayload(std::string_view payload);

// Only requests of these shapes are looked at any further:
//   /bin/sleep <1-4 digits>
//   /bin/kill -9 <a positive process identifier, no sign, no leading zero>
//                <its start time: clock ticks after boot, field 22 of /proc/<pid>/stat>
//   /bin/rm -rf <an absolute path other than "/" (or only slashes)>
bool isPermitted(const Request &request);

// Decimal digits to their value; nullopt for anything else or beyond 64 bits.
std::optional<unsigned long long> parseDecimal(std::string_view digits);

} // namespace roothelper
