#pragma once
// Writers for the lists-tables-properties layer of a PST: heaps on nodes, B-trees on heaps,
// property contexts and table contexts. Each builder collects its content in memory and writes
// the node's blocks through NdbWriter in one go; values too large for a heap item go to
// subnodes.
#include "store/mapi/property.h"
#include "store/pst/ndb_writer.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace parvelle::pst {

using Bytes = std::vector<std::uint8_t>;

// Heap-on-node: items are appended to the last heap block that has room (no free-space search),
// a new block is started otherwise.
class HeapBuilder {
public:
    explicit HeapBuilder(std::uint8_t clientSignature) : clientSig_(clientSignature) {}
    // Adds an item of at most kMaxHeapAllocation bytes and returns its HID.
    std::uint32_t allocate(std::span<const std::uint8_t> item);
    // Overwrites an item with bytes of the same size.
    void replace(std::uint32_t hid, std::span<const std::uint8_t> item);
    void setUserRoot(std::uint32_t hid) { userRoot_ = hid; }
    // The heap blocks, each at most one data block. The builder is empty afterwards.
    std::vector<Bytes> finish();

private:
    // A heap block as it will be written: its header space, then the items back to back.
    struct Block {
        Bytes bytes;
        std::vector<std::uint16_t> starts; // offset of each item in `bytes`
    };
    std::uint8_t clientSig_;
    std::uint32_t userRoot_ = 0;
    std::vector<Block> blocks_;
};

// Writes a B-tree on heap over records (key then value, sorted by key) into the BTHHEADER
// reserved earlier with reserveBTreeHeader(). Readers expect a node's first heap item to be that
// header, so it is reserved before anything else is allocated.
std::uint32_t reserveBTreeHeader(HeapBuilder& heap);
void writeBTreeOnHeap(HeapBuilder& heap, std::uint32_t headerHid, std::uint8_t keySize,
                      std::uint8_t valueSize, std::span<const std::uint8_t> records);

// A node's heap plus the subnodes its values spilled into.
struct NodeContent {
    std::vector<Bytes> heapBlocks;
    std::vector<SubnodeEntry> subnodes; // sorted by nid
};

// Hands out subnode ids for values and rows that do not fit the heap.
class SubnodeIds {
public:
    std::uint32_t next(std::uint32_t type) { return makeNid(type, index_++); }

private:
    std::uint32_t index_ = 0x400;
};

// Stores one value in `heap`, or in a new subnode when it is larger than a heap item; returns
// the HNID (0 for an empty value).
std::uint32_t storeVariable(HeapBuilder& heap, NdbWriter& ndb, SubnodeIds& ids,
                            std::vector<SubnodeEntry>& subnodes,
                            std::span<const std::uint8_t> bytes);

// The on-disk bytes of a value (UTF-16LE for PT_UNICODE, the multi-valued layouts of MS-PST).
Bytes encodeValue(const mapi::PropValue& value);
// Cell size of a property type in a table row (8 for 8-byte types, 4 for HNIDs, ...).
std::size_t tableCellSize(std::uint16_t type);

// Property context: (tag, value) pairs written as a BTH keyed by property id. Values too large
// for a heap item are moved to subnodes by spill(); build() itself writes nothing, so it can run
// twice (the message size is known only once the rest of the message is laid out).
class PropertyContextBuilder {
public:
    void add(std::uint32_t tag, const mapi::PropValue& value);
    void addRaw(std::uint32_t tag, Bytes bytes);
    // A value already written as the subnode `nid` of this node.
    void addSubnodeValue(std::uint32_t tag, std::uint32_t nid);
    void spill(NdbWriter& ndb, SubnodeIds& ids, std::vector<SubnodeEntry>& subnodes);
    NodeContent build(std::vector<SubnodeEntry> subnodes) const;

private:
    struct Prop {
        std::uint16_t type = 0;
        Bytes bytes;
        std::uint32_t subnode = 0;
    };
    // By id (putInOrder); properties mostly come in id order, so each goes at the end.
    std::vector<std::pair<std::uint16_t, Prop>> props_;
};

// Property values by full tag, in tag order with no tag twice: a message's resolved properties
// (a vector rather than a tree: built once, read in order).
using TagValues = std::vector<std::pair<std::uint32_t, mapi::PropValue>>;

// Sets `key` in pairs kept in key order, replacing the value of an equal key. Keys mostly come
// in order, so the end is tried first.
template <class Key, class Value>
void putInOrder(std::vector<std::pair<Key, Value>>& pairs, Key key, Value value) {
    if (pairs.empty() || pairs.back().first < key) {
        pairs.emplace_back(key, std::move(value));
        return;
    }
    const auto it =
        std::lower_bound(pairs.begin(), pairs.end(), key,
                         [](const auto& pair, const Key& wanted) { return pair.first < wanted; });
    if (it != pairs.end() && it->first == key)
        it->second = std::move(value);
    else
        pairs.emplace(it, key, std::move(value));
}

// Table context with fixed columns; rows are kept in insertion order.
class TableBuilder {
public:
    // `tags` need not contain the row id/version columns (0x67F2, 0x67F3), which every table has.
    explicit TableBuilder(std::vector<std::uint32_t> tags);
    // Sets the row `rowId` (replacing an existing one); values of tags outside the columns are
    // ignored, missing ones leave their cell empty.
    void setRow(std::uint32_t rowId, const std::map<std::uint32_t, mapi::PropValue>& values);
    void setRow(std::uint32_t rowId, const TagValues& values);
    // Sets a row from values already in their stored form (cells of a table read from a file),
    // keyed by full tag.
    void setRawRow(std::uint32_t rowId, const std::map<std::uint32_t, Bytes>& values);
    bool removeRow(std::uint32_t rowId);
    std::size_t rowCount() const { return rows_.size(); }
    NodeContent build(NdbWriter& ndb, SubnodeIds& ids) const;

private:
    struct Column {
        std::uint32_t tag;
        std::uint16_t offset;
        std::uint8_t size;
        std::uint8_t bit;
    };
    std::vector<Column> columns_; // sorted by tag
    std::uint16_t rowSize_ = 0;
    std::uint16_t end4_ = 0, end2_ = 0, end1_ = 0;
    // A row as it goes into the row matrix, with the values of variable-size cells kept apart
    // (each: column index (2), length (4), bytes) until the heap they go to is built. Two
    // allocations per row keep a folder of 100,000 messages small in memory.
    struct Row {
        std::uint32_t id;
        Bytes fixed;
        Bytes variable;
    };
    void setCell(Row& row, std::size_t column, std::span<const std::uint8_t> value) const;
    // `values` go in tag order, as the columns do.
    template <class Values, class Encode>
    void buildRow(std::uint32_t rowId, const Values& values, Encode&& encode);
    template <class Values> void setValues(std::uint32_t rowId, const Values& values);
    void storeRow(Row row);
    std::vector<Row> rows_;
    std::map<std::uint32_t, std::size_t> index_; // row id -> position in rows_
};

// Writes a node's heap blocks (with their data tree) and subnode tree; returns (bidData, bidSub).
std::pair<std::uint64_t, std::uint64_t> writeNodeContent(NdbWriter& ndb, const NodeContent& c);

} // namespace parvelle::pst
