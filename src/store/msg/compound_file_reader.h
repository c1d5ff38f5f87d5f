#pragma once
// Reads compound files (MS-CFB) through a read-only mapping. Every sector number, chain and size
// is checked against the file before use, so a damaged file gives an error, never a crash.
// check() goes further and reports every structural rule a file breaks (FAT markers, chains,
// sibling order, red-black properties); the tests run it on every file the writer produces.
#include "store/msg/compound_file_format.h"
#include "store/msg/result.h"

#include "platform/mapped_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::msg::cfb {

struct DirectoryEntry {
    std::u16string name;
    EntryType type = EntryType::Unused;
    Color color = Color::Black;
    std::uint32_t left = kNoStream;
    std::uint32_t right = kNoStream;
    std::uint32_t child = kNoStream;
    Clsid clsid{};
    std::uint64_t creationTime = 0;
    std::uint64_t modifiedTime = 0;
    std::uint32_t startSector = kEndOfChain;
    std::uint64_t size = 0;

    std::string utf8Name() const;
    bool isStorage() const { return type == EntryType::Storage || type == EntryType::Root; }
};

class CompoundFile {
public:
    static Result<CompoundFile> open(const std::string& path);

    int majorVersion() const { return majorVersion_; }
    std::uint32_t sectorSize() const { return sectorSize_; }
    const std::vector<DirectoryEntry>& entries() const { return entries_; }
    const DirectoryEntry& root() const { return entries_[0]; }

    // Children of a storage in name order (an in-order walk of its sibling tree). Stops at
    // damaged links instead of looping.
    std::vector<std::uint32_t> children(std::uint32_t storage) const;
    std::optional<std::uint32_t> find(std::uint32_t storage, std::string_view utf8Name) const;
    // Looks up a path of names separated by '/' from the root.
    std::optional<std::uint32_t> findPath(std::string_view path) const;

    // Reads a whole stream; refuses streams larger than `limit` bytes.
    Result<std::vector<std::uint8_t>> readStream(std::uint32_t entry,
                                                 std::uint64_t limit = 1ULL << 30) const;
    // Hands a stream to `sink` in pieces, for streams too large to hold.
    Status readStreamChunks(std::uint32_t entry,
                            const std::function<void(std::span<const std::uint8_t>)>& sink) const;

    // Fills `out` from `offset` of a stream; fails when the range is outside the stream.
    Status readStreamAt(std::uint32_t entry, std::uint64_t offset,
                        std::span<std::uint8_t> out) const;

    // Every broken rule found, in plain words; empty for a sound file.
    std::vector<std::string> check() const;

private:
    CompoundFile() = default;
    Result<std::vector<std::uint32_t>> chainOf(const std::vector<std::uint32_t>& table,
                                               std::uint32_t start, std::uint64_t limit) const;
    std::span<const std::uint8_t> sector(std::uint32_t index) const;

    std::shared_ptr<platform::MappedFile> file_;
    int majorVersion_ = 3;
    std::uint32_t sectorSize_ = 512;
    std::uint64_t sectorCount_ = 0;
    std::uint32_t miniStreamCutoff_ = kMiniStreamCutoff;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> difatSectors_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint32_t> miniFatChain_;
    std::vector<std::uint32_t> directoryChain_;
    std::vector<std::uint32_t> miniStreamChain_;
    std::vector<DirectoryEntry> entries_;
};

} // namespace parvelle::msg::cfb
