#pragma once

#include <cstdint>

// The ZIP records this system reads and writes: their signatures and fixed sizes, the
// markers that send a reader on to a ZIP64 record, extra-field ids and flag bits. One
// place, so the reader, the writers and the single lesson file cannot drift apart.
namespace ArchiveRecord
{

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kLocatorSignature = 0x07064b50;

constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;
constexpr std::uint64_t kEndRecordSize = 22;
constexpr std::uint64_t kLocatorSize = 20;
constexpr std::uint64_t kEnd64Size = 56;        // the 64-bit end record without extensions
constexpr std::uint64_t kEnd64SizeCounted = 44; // what its own size field counts of it
constexpr std::uint64_t kLongestComment = 0xFFFF;
// Where a local header's CRC-32 lies; its two 32-bit sizes follow it.
constexpr std::uint64_t kLocalCrcAt = 14;

// The 32-bit field value that says "the real value is in a ZIP64 record", and the
// 16-bit count that says the same of the entry count.
constexpr std::uint32_t kIn64BitRecord = 0xFFFFFFFF;
constexpr std::uint16_t kCountIn64BitRecord = 0xFFFF;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
// A local header's ZIP64 block: id, size, then both sizes, uncompressed first.
constexpr std::uint16_t kZip64LocalExtraSize = 20;
constexpr std::uint16_t kTimestampExtraId = 0x5455;

// General-purpose flag bits.
constexpr std::uint16_t kEncrypted = 1 << 0;
constexpr std::uint16_t kSizesInDataDescriptor = 1 << 3;
constexpr std::uint16_t kUtf8Name = 1 << 11;

constexpr std::uint16_t kDeflated = 8;

// "Version needed to extract": deflate, or anything with a ZIP64 record.
constexpr std::uint16_t kVersionDeflate = 20;
constexpr std::uint16_t kVersionZip64 = 45;

// "Version made by": made on Unix (upper byte 3), version 4.5 of the format. Other tools
// then take the UTF-8 flag at its word and the external attributes as a Unix mode.
constexpr std::uint16_t kMadeOnUnix = 3 << 8 | 45;

} // namespace ArchiveRecord
