#pragma once
// On-disk constants of compound files (MS-CFB) shared by the writer and the reader, and the rule
// by which sibling entries are ordered in a storage's directory tree.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace parvelle::msg::cfb {

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                           0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::uint16_t kMinorVersion = 0x003E;
inline constexpr std::uint16_t kByteOrderMark = 0xFFFE;
inline constexpr std::uint16_t kMiniSectorShift = 6;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint32_t kHeaderSize = 512;
inline constexpr std::uint32_t kHeaderDifatEntries = 109;
inline constexpr std::uint32_t kDirectoryEntrySize = 128;

// Special sector numbers.
inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
// "No sibling / no child" in directory entries.
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

enum class EntryType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };
enum class Color : std::uint8_t { Red = 0, Black = 1 };

// Version 3 files (512-byte sectors) must stay within 2 GB so that every reader can open them;
// larger files are written as version 4 (4096-byte sectors).
inline constexpr std::uint64_t kVersion3MaxFileSize = 0x80000000ULL;

// A directory entry name holds at most 31 UTF-16 code units plus the terminator.
inline constexpr std::size_t kMaxNameUnits = 31;

using Clsid = std::array<std::uint8_t, 16>;

// Why `name` cannot name a storage or stream, or an empty string when it can.
std::string checkEntryName(std::u16string_view name);

// Orders sibling names as the directory tree requires: a shorter name sorts first; names of the
// same length compare code unit by code unit after upper-casing. Negative, zero or positive.
int compareEntryNames(std::u16string_view a, std::u16string_view b);

} // namespace parvelle::msg::cfb
