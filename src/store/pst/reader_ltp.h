#pragma once
// The lists-tables-properties layer of a PST file opened for reading: heap-on-node,
// B-tree-on-heap, property contexts and table contexts. Values come back as raw little-endian
// bytes with their property type; reader_messaging.h turns them into text, numbers and times.
#include "store/pst/reader_ndb.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace parvelle::pst {

// One property value as stored: fixed-size types as their little-endian bytes, PtypString as
// UTF-16LE, PtypString8 as 8-bit text, binary and multi-valued types as their stored bytes.
struct RawValue {
    std::uint16_t type = 0;
    std::vector<std::uint8_t> data;
    // Set instead of `data` for a value kept in a subnode when the caller asked not to load
    // such values (large attachment data is streamed from there instead).
    std::uint32_t subnode = 0;
};

// Properties keyed by property id (the high word of the tag).
using PropertyMap = std::map<std::uint16_t, RawValue>;

constexpr std::uint32_t propTag(std::uint16_t id, std::uint16_t type) {
    return (static_cast<std::uint32_t>(id) << 16) | type;
}

// A heap-on-node: a node's data blocks with the allocations each block's page map lists.
class Heap {
public:
    // Parses the page maps of every block; fails when the first block has no HN signature or a
    // page map does not fit its block.
    static ReadResult<Heap> parse(std::vector<std::vector<std::uint8_t>> blocks);

    std::uint8_t clientSignature() const { return clientSig_; }
    std::uint32_t userRoot() const { return userRoot_; }
    // The bytes of one allocation; HID 0 is the empty allocation.
    ReadResult<std::span<const std::uint8_t>> item(std::uint32_t hid) const;

    struct BlockMap {
        std::size_t ibHnpm = 0;
        std::uint16_t cFree = 0;
        std::vector<std::uint16_t> rgibAlloc; // cAlloc + 1 offsets
    };
    const std::vector<std::vector<std::uint8_t>>& blocks() const { return blocks_; }
    const std::vector<BlockMap>& maps() const { return maps_; }

private:
    std::vector<std::vector<std::uint8_t>> blocks_;
    std::vector<BlockMap> maps_;
    std::uint8_t clientSig_ = 0;
    std::uint32_t userRoot_ = 0;
};

// The records of a B-tree-on-heap in key order.
struct BTreeOnHeap {
    std::uint8_t cbKey = 0;
    std::uint8_t cbEnt = 0;
    std::uint8_t levels = 0;
    std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> records;
};
ReadResult<BTreeOnHeap> readBTreeOnHeap(const Heap& heap, std::uint32_t hidHeader);

// A node's heap together with its subnodes, which is what HNIDs resolve against.
struct NodeContext {
    const NodeDatabase* db = nullptr;
    Heap heap;
    std::map<std::uint32_t, SlEntry> subnodes;
};
ReadResult<NodeContext> openNodeContext(const NodeDatabase& db, const NodeRef& ref);
// The bytes an HNID names: a heap allocation or the data of a subnode.
ReadResult<std::vector<std::uint8_t>> readHnid(const NodeContext& node, std::uint32_t hnid);

// A property context: every property of one object. With `loadSubnodeValues` false, values
// kept in subnodes come back with RawValue::subnode set and no data.
ReadResult<PropertyMap> readPropertyContext(const NodeContext& node, bool loadSubnodeValues = true);
ReadResult<PropertyMap> readPropertyContext(const NodeDatabase& db, const NodeRef& ref);

// A table context.
struct TableColumn {
    std::uint32_t tag = 0;
    std::uint16_t ibData = 0;
    std::uint8_t cbData = 0;
    std::uint8_t iBit = 0;
};
struct TableRow {
    std::uint32_t rowId = 0;
    PropertyMap cells; // only cells whose existence bit is set
};
struct Table {
    std::vector<TableColumn> columns;
    std::vector<std::uint16_t> rgib; // TCI_4b, TCI_2b, TCI_1b, TCI_bm (row size)
    std::vector<TableRow> rows;      // in row-matrix order
};
ReadResult<Table> readTableContext(const NodeContext& node);
ReadResult<Table> readTableContext(const NodeDatabase& db, const NodeRef& ref);

} // namespace parvelle::pst
