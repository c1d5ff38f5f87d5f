#pragma once
// Writes compound files (MS-CFB). The caller describes the tree of storages and streams; the
// writer plans the whole layout first (so every size is known before the first byte goes out)
// and then writes the file front to back in one pass. Streams given as a StreamSource are read
// in pieces while they are written, so large attachments never sit in memory whole.
//
// Layout: header, the sectors of every stream of 4096 bytes or more, the mini stream (holding
// the smaller streams in 64-byte mini sectors), the mini FAT, the directory, the FAT and the
// DIFAT. Each region is one contiguous chain. Siblings form a red-black tree ordered by
// compareEntryNames(). Version 3 (512-byte sectors) is used while the file fits in 2 GB,
// version 4 (4096-byte sectors) beyond.
#include "store/msg/compound_file_format.h"
#include "store/msg/result.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::msg::cfb {

// Bytes produced on demand: `read` fills `out` from `offset` and returns false on failure.
struct StreamSource {
    std::uint64_t size = 0;
    std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)> read;
};

class Tree {
public:
    using NodeId = std::size_t;
    static constexpr NodeId kRoot = 0;

    struct Node {
        std::u16string name;
        bool isStorage = false;
        Clsid clsid{};
        std::vector<std::uint8_t> bytes; // a stream's content when `source` is not set
        StreamSource source;
        bool hasSource = false;
        std::vector<NodeId> children; // in insertion order
    };

    Tree();

    // Adds a storage under `parent` and returns its id. Fails on an invalid or duplicate name
    // or when `parent` is not a storage.
    Result<NodeId> addStorage(NodeId parent, std::string_view utf8Name, const Clsid& clsid = {});
    Status addStream(NodeId parent, std::string_view utf8Name, std::vector<std::uint8_t> bytes);
    Status addStream(NodeId parent, std::string_view utf8Name, StreamSource source);
    void setClsid(NodeId storage, const Clsid& clsid);

    const std::vector<Node>& nodes() const { return nodes_; }
    std::uint64_t streamSize(NodeId id) const;

private:
    Result<NodeId> addNode(NodeId parent, std::string_view utf8Name, bool isStorage);
    std::vector<Node> nodes_;
};

struct WriteOptions {
    // FILETIME stamped on storages as creation and modification time (the root gets only the
    // modification time, as the format requires). Zero leaves them blank.
    std::uint64_t timestamp = 0;
    // 3 or 4 forces a version; 0 picks version 3 while the file fits in 2 GB.
    int majorVersion = 0;
};

// The version and total size a tree would be written with.
struct PlannedSize {
    int majorVersion = 3;
    std::uint64_t fileSize = 0;
};
Result<PlannedSize> planCompoundFile(const Tree& tree, const WriteOptions& options = {});

// Writes the whole file to `out` (positioned at its start). On failure the bytes written so far
// are not a valid file; the caller removes them.
Status writeCompoundFile(const Tree& tree, std::FILE* out, const WriteOptions& options = {});

} // namespace parvelle::msg::cfb
