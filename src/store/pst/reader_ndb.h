#pragma once
// The node database layer of a PST file opened for reading: the header, the node and block
// B-trees, blocks with their trailers, data trees (XBLOCK/XXBLOCK) and subnode trees
// (SLBLOCK/SIBLOCK).
//
// The file is memory-mapped (or given as bytes); nothing reads the whole file into memory. Every
// length and offset found in the file is checked against the bytes that are there, and depth and
// size limits stop cyclic or inflated structures, so any input yields a value or an error.
#include "platform/mapped_file.h"
#include "store/pst/format.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace parvelle::pst {

// A value or a plain-words reason why there is none.
template <class T> class ReadResult {
public:
    ReadResult(T value) : value_(std::move(value)) {}
    static ReadResult failure(std::string why) {
        ReadResult r;
        r.error_ = std::move(why);
        return r;
    }
    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const std::string& error() const { return error_; }

private:
    ReadResult() = default;
    std::optional<T> value_;
    std::string error_;
};

// "0x1A2B": how ids and offsets appear in the reader's and checker's messages.
std::string hexId(std::uint64_t value);

// An NBTENTRY: one node of the file.
struct NbtEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t nidParent = 0;
};

// A BBTENTRY: one block of the file.
struct BbtEntry {
    Bref bref;
    std::uint16_t cb = 0;   // data bytes (before padding and trailer)
    std::uint16_t cRef = 0; // reference count
};

// An SLENTRY: one subnode of a node.
struct SlEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

// Where a node's data or subnodes live: the pair a node or subnode entry carries.
struct NodeRef {
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

class NodeDatabase {
public:
    // Opens and maps a file. Fails with a plain sentence when the file cannot be read or is not
    // a PST file ("... is not a PST file (...)").
    static ReadResult<NodeDatabase> open(const std::string& path);
    // Reads PST bytes held in memory (tests, fuzzing).
    static ReadResult<NodeDatabase> fromBytes(std::vector<std::uint8_t> bytes);

    const Header& header() const { return header_; }
    Format format() const { return header_.format; }
    // The whole file as mapped.
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    // Looks a node up in the node B-tree.
    std::optional<NbtEntry> findNode(std::uint32_t nid) const;
    // Looks a block up in the block B-tree (the reserved low bit of the id is ignored).
    std::optional<BbtEntry> findBlock(std::uint64_t bid) const;
    // Every leaf entry of the node or block B-tree in key order; entries of pages that cannot be
    // read are skipped (the checker reports them).
    std::vector<NbtEntry> allNodes() const;
    std::vector<BbtEntry> allBlocks() const;

    // The data of one block as stored (not decoded), checked against its trailer's size and id.
    ReadResult<std::span<const std::uint8_t>> rawBlock(std::uint64_t bid) const;
    // The data of one block, decoded when it is an external block of an encoded file.
    ReadResult<std::vector<std::uint8_t>> readBlock(std::uint64_t bid) const;

    // The external blocks of a data tree (the block itself when `bid` names an external block),
    // decoded and in order. Heap-on-node readers need the blocks one by one.
    ReadResult<std::vector<std::vector<std::uint8_t>>> readDataBlocks(std::uint64_t bid) const;
    // The size of a data tree's data, from its structure alone (every block is looked up, none
    // is read); fails when the tree is broken or its totals disagree.
    ReadResult<std::uint64_t> dataSize(std::uint64_t bid) const;
    // A data tree's bytes as one stream.
    ReadResult<std::vector<std::uint8_t>> readStream(std::uint64_t bid) const;
    // Visits a data tree's decoded blocks in order without holding more than one (for large
    // attachments). Returns an error when the tree is broken.
    ReadResult<std::uint64_t>
    forEachDataBlock(std::uint64_t bid,
                     const std::function<void(std::span<const std::uint8_t>)>& visit) const;
    // The subnodes of a node, keyed by NID (an empty map for bidSub 0).
    ReadResult<std::map<std::uint32_t, SlEntry>> readSubnodes(std::uint64_t bidSub) const;

    // Limits that keep hostile files from exhausting memory or time.
    static constexpr int kMaxBTreeDepth = 16;

private:
    NodeDatabase() = default;
    static ReadResult<NodeDatabase> finishOpen(NodeDatabase db);

    template <class Visit>
    bool walkTree(const Bref& root, PageType type, Visit&& visitLeafEntry) const;
    ReadResult<std::span<const std::uint8_t>> page(const Bref& ref, PageType type) const;
    ReadResult<std::uint64_t> collectDataBlocks(std::uint64_t bid, int depth,
                                                std::vector<std::uint64_t>& out) const;
    ReadResult<bool> collectSubnodes(std::uint64_t bid, int depth,
                                     std::map<std::uint32_t, SlEntry>& out) const;
    NbtEntry parseNodeEntry(const std::uint8_t* p) const;
    BbtEntry parseBlockEntry(const std::uint8_t* p) const;

    platform::MappedFile file_;
    std::vector<std::uint8_t> owned_;
    std::span<const std::uint8_t> bytes_;
    Header header_;
};

} // namespace parvelle::pst
