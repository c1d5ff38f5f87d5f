#pragma once
// A ZIP writer that lays members out the way Outlook for Mac does in its OLM exports: every
// local header says version 45 and carries a 20-byte ZIP64 extra field (id 0x0001, 16 data
// bytes: uncompressed then compressed size) with 0xFFFFFFFF in the 32-bit size fields, member
// names are UTF-8 (flag bit 11), no data descriptors, and the archive ends with a central
// directory whose entries carry ZIP64 sizes and offsets, a ZIP64 end record and locator, and a
// classic end record. Members are streamed to disk; a header is patched after its data, so
// neither a member nor the archive is ever held in memory whole.
//
// Scanner tests build odd archives member by member: MemberOptions reaches every field that a
// damaged archive gets wrong, and writeRaw() puts arbitrary bytes between members.
#include "olmgen/payload.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::olmgen {

enum class Compression : std::uint16_t { Stored = 0, Deflated = 8 };

// Per-member control; the defaults give a well-formed Outlook-style member.
struct MemberOptions {
    Compression compression = Compression::Stored;
    std::uint32_t signature = 0x04034b50;          // local header signature "PK\3\4"
    std::uint16_t versionNeeded = 45;              // local header only; the central entry keeps 45
    std::optional<std::uint32_t> crc;              // replaces the real CRC-32 (local and central)
    std::string extraFieldTail;                    // appended to the local extra field after the
                                                   // ZIP64 block; the extra length grows with it
    std::optional<std::uint64_t> dataBytesWritten; // write only this many data bytes while the
                                                   // header keeps the full sizes (a cut-off member)
    bool inCentralDirectory = true;
};

// Where a member landed; scanner tests compare their offsets with these.
struct MemberRecord {
    std::string name;
    std::uint64_t headerOffset = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    Compression compression = Compression::Stored;
    bool isDirectory = false;
    bool inCentralDirectory = true;
};

// MS-DOS date and time stamped on every member (fixed, so that output is reproducible).
struct DosTime {
    std::uint16_t time = (10 << 11) | (30 << 5);               // 10:30:00
    std::uint16_t date = ((2024 - 1980) << 9) | (5 << 5) | 17; // 2024-05-17
};

class ZipWriter {
public:
    // Creates (or truncates) the file. Failures are reported by error() and by finish().
    explicit ZipWriter(const std::filesystem::path& path, DosTime stamp = {});
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    ~ZipWriter();

    // A directory member; `name` should end in "/". CRC and sizes are 0.
    void addDirectory(std::string_view name, const MemberOptions& options = {});
    // A file member, stored or deflated (raw deflate, method 8) as the options say.
    void addFile(std::string_view name, const Payload& data, const MemberOptions& options = {});
    // Bytes that belong to no member, written at the current position.
    void writeRaw(std::string_view bytes);

    // Writes the central directory and the end records and closes the file. False on any
    // write failure since the file was opened.
    bool finish();
    // Closes the file as it stands, without central directory: a cut-off archive.
    bool closeWithoutCentralDirectory();

    std::uint64_t position() const { return position_; }
    const std::vector<MemberRecord>& members() const { return members_; }
    // Empty while every write succeeded.
    const std::string& error() const { return error_; }

private:
    bool acceptName(std::string_view name);
    void writeLocalHeader(const MemberRecord& member, const MemberOptions& options);
    void patchLocalHeader(const MemberRecord& member, const MemberOptions& options);
    void writeCentralDirectory();
    void put(std::string_view bytes);
    void fail(std::string message);

    std::ofstream out_;
    std::filesystem::path path_;
    DosTime stamp_;
    std::uint64_t position_ = 0;
    std::vector<MemberRecord> members_;
    std::string error_;
    bool closed_ = false;
};

} // namespace parvelle::olmgen
