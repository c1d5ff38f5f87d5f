#pragma once
// The consistency checker behind `parvelle-cli check-pst`: walks every structure of a PST file
// and reports each violation of the format that Outlook would trip over. Genuine Outlook files
// check clean; files this engine writes are checked by its tests.
//
// What is checked: the header (signatures, CRCs, sentinel, file size, root references); the
// allocation maps (AMap/PMap/FMap/FPMap present with valid trailers at their intervals, every
// page and block allocated, free-space totals); both B-trees (page trailers, CRCs, signatures,
// key order, levels, entry counts); every block (trailer, size, CRC, signature, reference
// count); data and subnode trees; heaps, B-trees-on-heap, property and table contexts of every
// object; the mandatory nodes; and the folder tables against the nodes (rows, counts, parents).
#include "store/pst/reader_ndb.h"

#include <cstdint>
#include <string>
#include <vector>

namespace parvelle::pst {

enum class ViolationKind {
    Header,        // header fields, header CRCs
    PageTrailer,   // page type, signature or id in a page trailer
    PageCrc,       // a page's CRC
    BlockTrailer,  // a block's trailer (size, id, signature) or placement
    BlockCrc,      // a block's CRC
    BTree,         // node/block B-tree structure or key order
    AllocationMap, // allocation bits, free-space totals, map pages at their intervals
    MissingBlock,  // a referenced block absent from the block B-tree
    RefCount,      // a block's reference count differs from its references
    DataTree,      // XBLOCK/XXBLOCK/SLBLOCK/SIBLOCK structure
    Heap,          // heap-on-node or B-tree-on-heap structure
    PropertyContext,
    TableContext,
    MandatoryNode, // a node every store must have is missing
    Hierarchy,     // folder tables against the nodes, parent links, counts
};

// A short stable name for a kind ("header", "page-crc", "block-crc", "ref-count", ...).
const char* violationKindName(ViolationKind kind);

struct Violation {
    ViolationKind kind;
    std::string where;   // "header", "page at 0x4400", "block 0x1234", "node 0x8022", ...
    std::string message; // plain words
};

struct CheckReport {
    Format format = Format::Unicode;
    std::uint64_t pages = 0;  // B-tree pages checked
    std::uint64_t blocks = 0; // blocks checked
    std::uint64_t nodes = 0;  // nodes checked
    std::vector<Violation> violations;
    bool clean() const { return violations.empty(); }
};

// Checks an opened store. Never fails: whatever cannot be read is itself a violation.
CheckReport checkStore(const NodeDatabase& db);

std::string reportToJson(const std::string& file, const CheckReport& report);
std::string reportToText(const std::string& file, const CheckReport& report);

} // namespace parvelle::pst
