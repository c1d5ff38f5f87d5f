#include "store/pst/checker.h"

#include "platform/json.h"
#include "store/pst/reader_ltp.h"

#include <algorithm>
#include <map>
#include <set>

namespace parvelle::pst {

namespace {

// Property ids the folder checks compare with the tables.
constexpr std::uint16_t kPropContentCount = 0x3602;
constexpr std::uint16_t kPropContentUnreadCount = 0x3603;
constexpr std::uint16_t kPropMessageFlags = 0x0E07;
constexpr std::uint32_t kMessageFlagRead = 0x1;
// Contents-table columns that repeat a message's own properties and must agree with them. The
// message size is not among them: Outlook's own files carry rows whose size differs from the
// object's for messages with embedded messages.
constexpr std::uint16_t kMirroredColumns[] = {
    0x001A, // PidTagMessageClass
    0x0037, // PidTagSubject
    0x0E07, // PidTagMessageFlags
    0x0039, // PidTagClientSubmitTime
    0x0E06, // PidTagMessageDeliveryTime
};
constexpr std::uint16_t kPropSubfolders = 0x360A;
constexpr std::uint16_t kPropLtpRowId = 0x67F2;

// The nodes every store has. The folder templates of the minimal node list (0xA1, 0xC1) are left
// out: Outlook itself does not write them.
constexpr std::uint32_t kMandatoryNodes[] = {
    kNidMessageStore,
    kNidNameToIdMap,
    kNidRootFolder,
    kNidSearchManagementQueue,
    kNidSearchActivityList,
    kNidHierarchyTableTemplate,
    kNidContentsTableTemplate,
    kNidAssocContentsTableTemplate,
    kNidSearchContentsTableTemplate,
    kNidAttachmentTable,
    kNidRecipientTable,
};

bool isPropertyContextNode(std::uint32_t nid) {
    switch (nidType(nid)) {
    case kNidTypeNormalFolder:
    case kNidTypeSearchFolder:
    case kNidTypeNormalMessage:
    case kNidTypeAssocMessage:
    case kNidTypeAttachment:
        return true;
    default:
        return nid == kNidMessageStore || nid == kNidNameToIdMap;
    }
}

bool isTableContextNode(std::uint32_t nid) {
    switch (nidType(nid)) {
    case kNidTypeHierarchyTable:
    case kNidTypeContentsTable:
    case kNidTypeAssocContentsTable:
    case kNidTypeSearchContentsTable:
    case kNidTypeAttachmentTable:
    case kNidTypeRecipientTable:
        return true;
    default:
        return false;
    }
}

std::uint64_t keyValue(const std::vector<std::uint8_t>& key) {
    std::uint64_t v = 0;
    for (std::size_t i = key.size(); i-- > 0;)
        v = (v << 8) | key[i];
    return v;
}

class Checker {
public:
    Checker(const NodeDatabase& db, CheckReport& report)
        : db_(db), f_(db.format()), bytes_(db.bytes()), report_(report) {}

    void run() {
        report_.format = f_;
        checkHeader();
        walkBTree(db_.header().nbt, PageType::NBT);
        walkBTree(db_.header().bbt, PageType::BBT);
        checkBlocks();
        checkNodes();
        checkRefCounts();
        checkAllocationMaps();
        checkMandatoryNodes();
        checkCounters();
        checkFolders();
    }

private:
    void add(ViolationKind kind, std::string where, std::string message) {
        report_.violations.push_back({kind, std::move(where), std::move(message)});
    }

    bool inFile(std::uint64_t ib, std::uint64_t size) const {
        return ib <= bytes_.size() && bytes_.size() - ib >= size;
    }

    // ----- header
    void checkHeader() {
        const Header& h = db_.header();
        if (h.dwCRCPartial != headerCrcPartial(bytes_))
            add(ViolationKind::Header, "header", "the partial header CRC does not match");
        if (f_ == Format::Unicode && h.dwCRCFull != headerCrcFull(bytes_))
            add(ViolationKind::Header, "header", "the full header CRC does not match");
        if (bytes_[headerLayout(f_).bSentinel] != kSentinel)
            add(ViolationKind::Header, "header", "the sentinel byte is not 0x80");
        if (h.wMagicClient != kClientMagicPst)
            add(ViolationKind::Header, "header", "the client signature is not that of a PST file");
        if (h.ibFileEof != bytes_.size())
            add(ViolationKind::Header, "header",
                "the header gives the file size as " + std::to_string(h.ibFileEof) +
                    " bytes but the file has " + std::to_string(bytes_.size()));
        if (h.fAMapValid == kAMapInvalid)
            add(ViolationKind::AllocationMap, "header", "the allocation maps are marked invalid");
    }

    // ----- B-trees
    void walkBTree(const Bref& root, PageType type) {
        std::set<std::uint64_t> visited;
        visitPage(root, type, -1, 0, std::nullopt, 0, visited);
    }

    void visitPage(const Bref& ref, PageType type, int expectedLevel, std::uint64_t low,
                   std::optional<std::uint64_t> high, int depth, std::set<std::uint64_t>& visited) {
        const char* treeName = type == PageType::NBT ? "node B-tree" : "block B-tree";
        const std::string where = std::string(treeName) + " page at " + hexId(ref.ib);
        if (depth > NodeDatabase::kMaxBTreeDepth || !visited.insert(ref.ib).second) {
            add(ViolationKind::BTree, where, "the page is reached twice (a cycle)");
            return;
        }
        if (ref.ib % kPageSize != 0 || !inFile(ref.ib, kPageSize)) {
            add(ViolationKind::BTree, where, "the page is not a page of the file");
            return;
        }
        ++report_.pages;
        ranges_.push_back({ref.ib, kPageSize, where});
        const auto page = bytes_.subspan(ref.ib, kPageSize);
        const PageTrailer t = readPageTrailer(f_, page);
        if (t.ptype != type || t.ptypeRepeat != static_cast<std::uint8_t>(type)) {
            add(ViolationKind::PageTrailer, where,
                "the page is not a " + std::string(treeName) + " page");
            return;
        }
        if (t.dwCRC != computeCrc(page.first(pageDataSize(f_))))
            add(ViolationKind::PageCrc, where, "the page CRC does not match");
        if (t.wSig != computeSignature(ref.ib, t.bid))
            add(ViolationKind::PageTrailer, where, "the page signature does not match");
        highestPage_ = std::max(highestPage_, t.bid);
        if (t.bid != ref.bid)
            add(ViolationKind::PageTrailer, where,
                "the page's id " + hexId(t.bid) + " differs from its reference " + hexId(ref.bid));
        const std::uint8_t* info = page.data() + btPageInfoOffset(f_);
        const std::size_t count = info[0], maxCount = info[1], entrySize = info[2];
        const int level = info[3];
        const std::size_t expectedSize = level > 0               ? btEntrySize(f_)
                                         : type == PageType::NBT ? nbtEntrySize(f_)
                                                                 : bbtEntrySize(f_);
        if (entrySize != expectedSize || maxCount != btMaxEntries(f_, expectedSize) ||
            count > maxCount) {
            add(ViolationKind::BTree, where, "the page's entry count or size is wrong");
            return;
        }
        if (expectedLevel >= 0 && level != expectedLevel) {
            add(ViolationKind::BTree, where, "the page is at the wrong level");
            return;
        }
        const std::size_t n = idSize(f_);
        std::optional<std::uint64_t> previous;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* e = page.data() + i * entrySize;
            std::uint64_t key = loadId(f_, e);
            if (level == 0 && type == PageType::NBT)
                key = loadLe32(e); // the NID; Unicode pads it to 8 bytes
            if (type == PageType::BBT)
                key = bidKey(key);
            if (previous && key <= *previous)
                add(ViolationKind::BTree, where, "the keys are not in ascending order");
            if (key < low || (high && key >= *high))
                add(ViolationKind::BTree, where,
                    "key " + hexId(key) + " lies outside the range its parent gives");
            previous = key;
            if (level > 0) {
                std::optional<std::uint64_t> childHigh = high;
                if (i + 1 < count)
                    childHigh = loadId(f_, e + entrySize);
                if (type == PageType::BBT && childHigh)
                    childHigh = bidKey(*childHigh);
                visitPage({loadId(f_, e + n), loadId(f_, e + 2 * n)}, type, level - 1, key,
                          childHigh, depth + 1, visited);
            } else if (type == PageType::NBT) {
                nodes_.push_back(
                    {loadLe32(e), loadId(f_, e + n), loadId(f_, e + 2 * n), loadLe32(e + 3 * n)});
            } else {
                BbtEntry b;
                b.bref = {loadId(f_, e), loadId(f_, e + n)};
                b.cb = loadLe16(e + 2 * n);
                b.cRef = loadLe16(e + 2 * n + 2);
                blocks_[bidKey(b.bref.bid)] = {b, 0};
            }
        }
    }

    // ----- blocks
    void checkBlocks() {
        for (auto& [key, info] : blocks_) {
            const BbtEntry& b = info.entry;
            const std::string where = "block " + hexId(b.bref.bid);
            ++report_.blocks;
            const std::size_t total = blockTotalSize(f_, b.cb);
            if (b.cb > maxBlockDataSize(f_) || b.bref.ib % kBlockAlignment != 0 ||
                !inFile(b.bref.ib, total)) {
                add(ViolationKind::BlockTrailer, where, "the block lies outside the file");
                info.readable = false;
                continue;
            }
            ranges_.push_back({b.bref.ib, total, where});
            const auto block = bytes_.subspan(b.bref.ib, total);
            const BlockTrailer t =
                readBlockTrailer(f_, block.subspan(total - blockTrailerLayout(f_).size));
            if (t.cb != b.cb || t.bid != b.bref.bid) {
                add(ViolationKind::BlockTrailer, where,
                    "the block trailer names another block or size");
                info.readable = false;
                continue;
            }
            if (t.wSig != computeSignature(b.bref.ib, b.bref.bid))
                add(ViolationKind::BlockTrailer, where, "the block signature does not match");
            if (t.dwCRC != computeCrc(block.first(b.cb))) {
                add(ViolationKind::BlockCrc, where, "the block CRC does not match");
                info.readable = false;
            }
        }
    }

    // ----- nodes, data trees and subnode trees
    struct BlockInfo {
        BbtEntry entry;
        std::uint32_t references = 0;
        bool readable = true;
        bool walked = false;
    };

    // Counts one reference; returns the block's bookkeeping when it exists.
    BlockInfo* reference(std::uint64_t bid, const std::string& from) {
        const auto it = blocks_.find(bidKey(bid));
        if (it == blocks_.end()) {
            add(ViolationKind::MissingBlock, from,
                "block " + hexId(bid) + " is referenced but not in the block B-tree");
            return nullptr;
        }
        ++it->second.references;
        return &it->second;
    }

    void walkDataTree(std::uint64_t bid, const std::string& from, int depth) {
        BlockInfo* info = reference(bid, from);
        if (!info || !bidIsInternal(bid) || info->walked || !info->readable)
            return;
        info->walked = true;
        const std::string where = "block " + hexId(bid);
        const auto raw = bytes_.subspan(info->entry.bref.ib, info->entry.cb);
        if (raw.size() < kDataTreeHeaderSize || raw[0] != kBlockTypeData || raw[1] < 1 ||
            raw[1] > 2 || depth + raw[1] > 2) {
            add(ViolationKind::DataTree, where, "the block is not a valid data tree block");
            return;
        }
        const std::size_t count = loadLe16(raw.data() + 2);
        const std::size_t n = idSize(f_);
        if (kDataTreeHeaderSize + count * n > raw.size()) {
            add(ViolationKind::DataTree, where, "the data tree block lists more ids than it holds");
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t child = loadId(f_, raw.data() + kDataTreeHeaderSize + i * n);
            if (bidIsInternal(child) != (raw[1] == 2))
                add(ViolationKind::DataTree, where, "the data tree mixes levels");
            walkDataTree(child, where, depth + 1);
        }
        const auto total = db_.dataSize(bid);
        if (!total)
            add(ViolationKind::DataTree, where, total.error());
    }

    void walkSubnodeTree(std::uint64_t bid, const std::string& from, int depth) {
        BlockInfo* info = reference(bid, from);
        if (!info || info->walked || !info->readable)
            return;
        info->walked = true;
        const std::string where = "block " + hexId(bid);
        const auto raw = bytes_.subspan(info->entry.bref.ib, info->entry.cb);
        const std::size_t header = subnodeHeaderSize(f_);
        if (!bidIsInternal(bid) || raw.size() < header || raw[0] != kBlockTypeSubnode ||
            raw[1] > 1 || (raw[1] == 1 && depth > 0)) {
            add(ViolationKind::DataTree, where, "the block is not a valid subnode tree block");
            return;
        }
        const bool leaf = raw[1] == 0;
        const std::size_t count = loadLe16(raw.data() + 2);
        const std::size_t n = idSize(f_);
        const std::size_t entrySize = leaf ? slEntrySize(f_) : siEntrySize(f_);
        if (header + count * entrySize > raw.size()) {
            add(ViolationKind::DataTree, where,
                "the subnode block lists more entries than it holds");
            return;
        }
        std::optional<std::uint32_t> previous;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* e = raw.data() + header + i * entrySize;
            const std::uint32_t nid = loadLe32(e);
            if (previous && nid <= *previous)
                add(ViolationKind::DataTree, where, "the subnodes are not in ascending order");
            previous = nid;
            if (leaf) {
                walkDataTree(loadId(f_, e + n), where, 0);
                const std::uint64_t sub = loadId(f_, e + 2 * n);
                if (sub != 0)
                    walkSubnodeTree(sub, where, 0);
            } else {
                walkSubnodeTree(loadId(f_, e + n), where, depth + 1);
            }
        }
    }

    void checkNodes() {
        for (const NbtEntry& node : nodes_) {
            ++report_.nodes;
            const std::string where = "node " + hexId(node.nid);
            // Search queues and other internal nodes may be empty; objects never are.
            if (node.bidData != 0)
                walkDataTree(node.bidData, where, 0);
            else if (isPropertyContextNode(node.nid) || isTableContextNode(node.nid))
                add(ViolationKind::BTree, where, "the node has no data block");
            if (node.bidSub != 0)
                walkSubnodeTree(node.bidSub, where, 0);
            checkObject(node.nid, {node.bidData, node.bidSub}, where, 0);
            nodeByNid_[node.nid] = node;
        }
    }

    // Checks the heap-based structure of a node or subnode by its type, then the subnodes a
    // message or attachment carries.
    void checkObject(std::uint32_t nid, const NodeRef& ref, const std::string& where, int depth) {
        const bool pc = isPropertyContextNode(nid);
        const bool tc = isTableContextNode(nid);
        if ((!pc && !tc) || depth > 4)
            return;
        // Each object once: objects shared between attachments would multiply the walk.
        if (ref.bidData == 0 || !checkedObjects_.insert(bidKey(ref.bidData)).second)
            return;
        const auto node = openNodeContext(db_, ref);
        if (!node) {
            add(ViolationKind::Heap, where, node.error());
            return;
        }
        // Outlook keeps search index data of its own under search-contents-table NIDs.
        if (nidType(nid) == kNidTypeSearchContentsTable &&
            node->heap.clientSignature() != kClientSigTable)
            return;
        checkHeapTrees(*node, where);
        if (pc) {
            // Values kept in subnodes (attachment data, long bodies) are checked as blocks and
            // data trees; the context itself only has to name subnodes that exist.
            const auto props = readPropertyContext(*node, false);
            if (!props)
                add(ViolationKind::PropertyContext, where, props.error());
            // Embedded messages hang below attachments; find them through PtypObject values.
            if (props && nidType(nid) == kNidTypeAttachment) {
                for (const auto& [id, value] : *props) {
                    if (value.type != kPtypObject || (value.subnode == 0 && value.data.size() < 4))
                        continue;
                    const std::uint32_t objectNid =
                        value.subnode != 0 ? value.subnode : loadLe32(value.data.data());
                    const auto sub = node->subnodes.find(objectNid);
                    if (sub == node->subnodes.end()) {
                        add(ViolationKind::PropertyContext, where,
                            "the embedded object's subnode is missing");
                        continue;
                    }
                    checkObject(makeNid(kNidTypeNormalMessage, 0),
                                {sub->second.bidData, sub->second.bidSub},
                                where + " embedded message", depth + 1);
                }
            }
        } else {
            const auto table = readTableContext(*node);
            if (!table) {
                add(ViolationKind::TableContext, where, table.error());
            } else {
                for (const TableRow& row : table->rows) {
                    const auto id = row.cells.find(kPropLtpRowId);
                    if (id != row.cells.end() && id->second.data.size() >= 4 &&
                        loadLe32(id->second.data.data()) != row.rowId)
                        add(ViolationKind::TableContext, where,
                            "row " + hexId(row.rowId) + " holds another row id");
                }
            }
        }
        for (const auto& [subNid, sub] : node->subnodes) {
            const std::uint32_t t = nidType(subNid);
            if (t == kNidTypeAttachment || t == kNidTypeAttachmentTable ||
                t == kNidTypeRecipientTable)
                checkObject(subNid, {sub.bidData, sub.bidSub}, where + " subnode " + hexId(subNid),
                            depth + 1);
        }
    }

    // Every B-tree-on-heap reachable from the user root keeps its keys in ascending order.
    void checkHeapTrees(const NodeContext& node, const std::string& where) {
        std::vector<std::uint32_t> roots;
        if (node.heap.clientSignature() == kClientSigPropertyContext ||
            node.heap.clientSignature() == kClientSigBTree) {
            roots.push_back(node.heap.userRoot());
        } else if (node.heap.clientSignature() == kClientSigTable) {
            const auto info = node.heap.item(node.heap.userRoot());
            if (info && info->size() >= kTcInfoSize)
                roots.push_back(loadLe32(info->data() + 10));
        }
        for (std::uint32_t hid : roots) {
            const auto bth = readBTreeOnHeap(node.heap, hid);
            if (!bth) {
                add(ViolationKind::Heap, where, bth.error());
                continue;
            }
            std::optional<std::uint64_t> previous;
            for (const auto& record : bth->records) {
                const std::uint64_t key = keyValue(record.first);
                if (previous && key <= *previous) {
                    add(ViolationKind::Heap, where,
                        "B-tree-on-heap keys are not in ascending order");
                    break;
                }
                previous = key;
            }
        }
    }

    // ----- reference counts
    void checkRefCounts() {
        for (const auto& [key, info] : blocks_) {
            // Outlook counts the B-tree's own hold on a block: a block with one owner reads 2.
            const std::uint32_t expected = info.references + 1;
            if (info.entry.cRef != expected)
                add(ViolationKind::RefCount, "block " + hexId(info.entry.bref.bid),
                    "the reference count is " + std::to_string(info.entry.cRef) + " but " +
                        std::to_string(info.references) + " reference(s) were found");
        }
    }

    // ----- allocation maps
    void checkAllocationMaps() {
        const Header& h = db_.header();
        const std::uint64_t end = std::min<std::uint64_t>(h.ibFileEof, bytes_.size());
        std::uint64_t freeBytes = 0;
        std::uint64_t lastAMap = 0;
        std::uint64_t intervals = 0;
        for (std::uint64_t n = 0; amapOffset(n) < end; ++n) {
            const MapPages maps = mapPagesOfInterval(n);
            bool amapReadable = false;
            for (std::size_t k = 0; k < maps.count; ++k) {
                const auto [type, ib] = maps.pages[k];
                const std::string where = "map page at " + hexId(ib);
                if (!inFile(ib, kPageSize)) {
                    add(ViolationKind::AllocationMap, where, "the map page is missing");
                    continue;
                }
                const auto page = bytes_.subspan(ib, kPageSize);
                const PageTrailer t = readPageTrailer(f_, page);
                if (t.ptype != type || t.ptypeRepeat != static_cast<std::uint8_t>(type)) {
                    add(ViolationKind::AllocationMap, where, "the expected map page is not there");
                    continue;
                }
                if (t.dwCRC != computeCrc(page.first(pageDataSize(f_))))
                    add(ViolationKind::PageCrc, where, "the page CRC does not match");
                if (t.wSig != 0 || t.bid != ib)
                    add(ViolationKind::PageTrailer, where, "the map page's trailer is wrong");
                if (type == PageType::AMap)
                    amapReadable = true;
            }
            lastAMap = amapOffset(n);
            intervals = n + 1;
            if (!amapReadable)
                continue;
            const auto bits = bytes_.subspan(amapOffset(n) + mapBitmapOffset(f_), kMapBitmapBytes);
            for (std::uint8_t byte : bits)
                freeBytes +=
                    static_cast<std::uint64_t>(8 - __builtin_popcount(byte)) * kAMapSlotBytes;
            for (std::size_t k = 0; k < maps.count; ++k)
                ranges_.push_back({maps.pages[k].second, kPageSize, "map page"});
        }
        if (intervals > 0 && h.ibAMapLast != lastAMap)
            add(ViolationKind::AllocationMap, "header",
                "the last allocation map is at " + hexId(lastAMap) + ", not at " +
                    hexId(h.ibAMapLast));
        if (h.fAMapValid != kAMapInvalid && freeBytes != h.cbAMapFree)
            add(ViolationKind::AllocationMap, "header",
                "the allocation maps leave " + std::to_string(freeBytes) +
                    " bytes free but the header says " + std::to_string(h.cbAMapFree));
        checkAllocatedRanges();
    }

    bool slotAllocated(std::uint64_t ib) const {
        const std::uint64_t n = (ib - kFirstAMapOffset) / kAMapCoverage;
        const std::uint64_t slot = (ib - amapOffset(n)) / kAMapSlotBytes;
        const std::uint64_t at = amapOffset(n) + mapBitmapOffset(f_) + slot / 8;
        return at < bytes_.size() && (bytes_[at] & (0x80 >> (slot % 8))) != 0;
    }

    void checkAllocatedRanges() {
        std::sort(ranges_.begin(), ranges_.end(),
                  [](const Range& a, const Range& b) { return a.ib < b.ib; });
        for (std::size_t i = 0; i < ranges_.size(); ++i) {
            const Range& r = ranges_[i];
            if (i > 0 && ranges_[i - 1].ib + ranges_[i - 1].size > r.ib)
                add(ViolationKind::AllocationMap, r.where, "it overlaps " + ranges_[i - 1].where);
            if (db_.header().fAMapValid == kAMapInvalid || r.ib < kFirstAMapOffset)
                continue;
            for (std::uint64_t ib = r.ib; ib < r.ib + r.size; ib += kAMapSlotBytes) {
                if (!slotAllocated(ib)) {
                    add(ViolationKind::AllocationMap, r.where,
                        "its bytes at " + hexId(ib) + " are marked free in the allocation map");
                    break;
                }
            }
        }
    }

    // ----- id counters
    // The header's counters hold the last id handed out (Outlook's own files show each counter
    // at the highest index in use); an id at or above them would be handed out again.
    void checkCounters() {
        const Header& h = db_.header();
        std::uint64_t highestBlock = 0;
        for (const auto& [key, info] : blocks_)
            highestBlock = std::max(highestBlock, key);
        if (!blocks_.empty() && highestBlock >= h.bidNextB)
            add(ViolationKind::Header, "header",
                "block id " + hexId(highestBlock) + " is not below the next block id " +
                    hexId(h.bidNextB));
        if (highestPage_ >= h.bidNextP && report_.pages > 0)
            add(ViolationKind::Header, "header",
                "page id " + hexId(highestPage_) + " is not below the next page id " +
                    hexId(h.bidNextP));
        std::map<std::uint32_t, std::uint32_t> highestIndex;
        for (const auto& [nid, node] : nodeByNid_) {
            auto& highest = highestIndex[nidType(nid)];
            highest = std::max(highest, nidIndex(nid));
        }
        for (const auto& [type, index] : highestIndex) {
            if (index > h.rgnid[type])
                add(ViolationKind::Header, "header",
                    "node index " + hexId(index) + " of type " + hexId(type) +
                        " lies above its counter " + hexId(h.rgnid[type]));
        }
    }

    // ----- messaging layer
    void checkMandatoryNodes() {
        for (std::uint32_t nid : kMandatoryNodes) {
            if (!nodeByNid_.contains(nid))
                add(ViolationKind::MandatoryNode, "node " + hexId(nid), "the node is missing");
        }
    }

    std::optional<std::vector<TableRow>> tableRows(std::uint32_t nid, const std::string& where) {
        const auto it = nodeByNid_.find(nid);
        if (it == nodeByNid_.end()) {
            add(ViolationKind::Hierarchy, where, "table " + hexId(nid) + " is missing");
            return std::nullopt;
        }
        const auto table = readTableContext(db_, {it->second.bidData, it->second.bidSub});
        if (!table)
            return std::nullopt; // already reported with the node
        return table->rows;
    }

    void compareRows(const std::vector<TableRow>& rows, const std::set<std::uint32_t>& children,
                     const std::string& where, const char* what) {
        std::set<std::uint32_t> listed;
        for (const TableRow& row : rows)
            listed.insert(row.rowId);
        for (std::uint32_t nid : children) {
            if (!listed.contains(nid))
                add(ViolationKind::Hierarchy, where,
                    std::string(what) + " " + hexId(nid) + " is missing from its table");
        }
        for (std::uint32_t nid : listed) {
            if (!children.contains(nid))
                add(ViolationKind::Hierarchy, where,
                    std::string("its table lists ") + what + " " + hexId(nid) +
                        ", which is not one of its children");
        }
    }

    void compareCount(const PropertyMap& props, std::uint16_t id, std::size_t actual,
                      const std::string& where, const char* what) {
        const auto it = props.find(id);
        if (it == props.end() || it->second.data.size() < 4)
            return;
        const std::uint32_t stored = loadLe32(it->second.data.data());
        if (stored != actual)
            add(ViolationKind::Hierarchy, where,
                std::string(what) + " is " + std::to_string(stored) + " but the table has " +
                    std::to_string(actual) + " row(s)");
    }

    // Each contents row repeats some of its message's properties; a row that says otherwise
    // shows the reader a different message than the one it opens.
    void compareRowsWithMessages(const std::vector<TableRow>& rows, const std::string& where) {
        for (const TableRow& row : rows) {
            const auto node = nodeByNid_.find(row.rowId);
            if (node == nodeByNid_.end())
                continue;
            const auto props =
                readPropertyContext(db_, {node->second.bidData, node->second.bidSub});
            if (!props)
                continue;
            for (std::uint16_t id : kMirroredColumns) {
                const auto cell = row.cells.find(id);
                const auto own = props->find(id);
                if (cell == row.cells.end() || own == props->end())
                    continue;
                if (cell->second.type != own->second.type || cell->second.data != own->second.data)
                    add(ViolationKind::Hierarchy, where,
                        "its contents row for message " + hexId(row.rowId) +
                            " differs in property " + hexId(id));
            }
        }
    }

    void checkFolders() {
        std::map<std::uint32_t, std::set<std::uint32_t>> folders, messages, assoc;
        for (const auto& [nid, node] : nodeByNid_) {
            const std::uint32_t t = nidType(nid);
            if (t == kNidTypeNormalFolder || t == kNidTypeSearchFolder) {
                if (nid != node.nidParent)
                    folders[node.nidParent].insert(nid);
                const auto parent = nodeByNid_.find(node.nidParent);
                if (parent == nodeByNid_.end() || nidType(node.nidParent) != kNidTypeNormalFolder)
                    add(ViolationKind::Hierarchy, "node " + hexId(nid),
                        "the folder's parent " + hexId(node.nidParent) + " is not a folder");
            } else if (t == kNidTypeNormalMessage) {
                messages[node.nidParent].insert(nid);
            } else if (t == kNidTypeAssocMessage) {
                assoc[node.nidParent].insert(nid);
            }
        }
        for (const auto& [nid, node] : nodeByNid_) {
            if (nidType(nid) != kNidTypeNormalFolder)
                continue;
            const std::string where = "folder " + hexId(nid);
            const auto props = readPropertyContext(db_, {node.bidData, node.bidSub});
            const std::uint32_t index = nidIndex(nid);
            const auto hierarchy = tableRows(makeNid(kNidTypeHierarchyTable, index), where);
            const auto contents = tableRows(makeNid(kNidTypeContentsTable, index), where);
            const auto assocContents = tableRows(makeNid(kNidTypeAssocContentsTable, index), where);
            if (hierarchy) {
                compareRows(*hierarchy, folders[nid], where, "subfolder");
                if (props) {
                    const auto sub = props->find(kPropSubfolders);
                    if (sub != props->end() && !sub->second.data.empty() &&
                        (sub->second.data[0] != 0) != !hierarchy->empty())
                        add(ViolationKind::Hierarchy, where,
                            "its subfolder flag disagrees with its hierarchy table");
                }
            }
            if (contents) {
                compareRows(*contents, messages[nid], where, "message");
                if (props) {
                    compareCount(*props, kPropContentCount, contents->size(), where,
                                 "its content count");
                    std::size_t unread = 0;
                    for (const TableRow& row : *contents) {
                        const auto flags = row.cells.find(kPropMessageFlags);
                        unread += flags != row.cells.end() && flags->second.data.size() >= 4 &&
                                  !(loadLe32(flags->second.data.data()) & kMessageFlagRead);
                    }
                    compareCount(*props, kPropContentUnreadCount, unread, where,
                                 "its unread count");
                }
                compareRowsWithMessages(*contents, where);
            }
            // The associated content count is not compared: Outlook leaves it stale when
            // associated items go (genuine files show a count with an empty table).
            if (assocContents)
                compareRows(*assocContents, assoc[nid], where, "associated message");
        }
        for (const auto* group : {&messages, &assoc}) {
            for (const auto& [parent, children] : *group) {
                if (nidType(parent) != kNidTypeNormalFolder || !nodeByNid_.contains(parent))
                    add(ViolationKind::Hierarchy, "node " + hexId(*children.begin()),
                        "the message's parent " + hexId(parent) + " is not a folder");
            }
        }
    }

    struct Range {
        std::uint64_t ib;
        std::uint64_t size;
        std::string where;
    };

    const NodeDatabase& db_;
    Format f_;
    std::span<const std::uint8_t> bytes_;
    CheckReport& report_;
    std::vector<NbtEntry> nodes_;
    std::map<std::uint64_t, BlockInfo> blocks_;
    std::map<std::uint32_t, NbtEntry> nodeByNid_;
    std::vector<Range> ranges_;
    std::set<std::uint64_t> checkedObjects_;
    std::uint64_t highestPage_ = 0;
};

} // namespace

const char* violationKindName(ViolationKind kind) {
    switch (kind) {
    case ViolationKind::Header:
        return "header";
    case ViolationKind::PageTrailer:
        return "page-trailer";
    case ViolationKind::PageCrc:
        return "page-crc";
    case ViolationKind::BlockTrailer:
        return "block-trailer";
    case ViolationKind::BlockCrc:
        return "block-crc";
    case ViolationKind::BTree:
        return "btree";
    case ViolationKind::AllocationMap:
        return "allocation-map";
    case ViolationKind::MissingBlock:
        return "missing-block";
    case ViolationKind::RefCount:
        return "ref-count";
    case ViolationKind::DataTree:
        return "data-tree";
    case ViolationKind::Heap:
        return "heap";
    case ViolationKind::PropertyContext:
        return "property-context";
    case ViolationKind::TableContext:
        return "table-context";
    case ViolationKind::MandatoryNode:
        return "mandatory-node";
    case ViolationKind::Hierarchy:
        return "hierarchy";
    }
    return "unknown";
}

CheckReport checkStore(const NodeDatabase& db) {
    CheckReport report;
    Checker(db, report).run();
    return report;
}

std::string reportToJson(const std::string& file, const CheckReport& report) {
    json::Writer w(true);
    w.beginObject();
    w.key("file").value(file);
    w.key("format").value(report.format == Format::Unicode ? "unicode" : "ansi");
    w.key("clean").value(report.clean());
    w.key("pages").value(report.pages);
    w.key("blocks").value(report.blocks);
    w.key("nodes").value(report.nodes);
    w.key("violations").beginArray();
    for (const Violation& v : report.violations) {
        w.beginObject();
        w.key("kind").value(violationKindName(v.kind));
        w.key("where").value(v.where);
        w.key("message").value(v.message);
        w.endObject();
    }
    w.endArray();
    w.endObject();
    return w.str() + "\n";
}

std::string reportToText(const std::string& file, const CheckReport& report) {
    std::string out;
    for (const Violation& v : report.violations)
        out += std::string(violationKindName(v.kind)) + ": " + v.where + ": " + v.message + "\n";
    out += file + ": " + std::to_string(report.pages) + " pages, " + std::to_string(report.blocks) +
           " blocks, " + std::to_string(report.nodes) + " nodes checked; " +
           (report.clean() ? std::string("no problems found")
                           : std::to_string(report.violations.size()) + " problem(s)") +
           "\n";
    return out;
}

} // namespace parvelle::pst
