#include "store/pst/reader_ndb.h"

#include <cstdio>
#include <set>

namespace parvelle::pst {

std::string hexId(std::uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
    return buf;
}

namespace {

const char* headerErrorText(HeaderError e) {
    switch (e) {
    case HeaderError::TooShort:
        return "the file is too short";
    case HeaderError::BadMagic:
        return "no PST signature at the start";
    case HeaderError::BadClientMagic:
        return "unknown client signature";
    case HeaderError::UnknownVersion:
        return "unsupported format version";
    case HeaderError::BadCryptMethod:
        return "unknown encoding method";
    }
    return "unreadable header";
}

} // namespace

ReadResult<NodeDatabase> NodeDatabase::open(const std::string& path) {
    NodeDatabase db;
    if (!db.file_.open(path))
        return ReadResult<NodeDatabase>::failure("Cannot open " + path + ": " + db.file_.error() +
                                                 ".");
    db.bytes_ = db.file_.bytes();
    auto result = finishOpen(std::move(db));
    if (!result)
        return ReadResult<NodeDatabase>::failure(path + " is not a PST file (" + result.error() +
                                                 ").");
    return result;
}

ReadResult<NodeDatabase> NodeDatabase::fromBytes(std::vector<std::uint8_t> bytes) {
    NodeDatabase db;
    db.owned_ = std::move(bytes);
    db.bytes_ = db.owned_;
    auto result = finishOpen(std::move(db));
    if (!result)
        return ReadResult<NodeDatabase>::failure("not a PST file (" + result.error() + ")");
    return result;
}

ReadResult<NodeDatabase> NodeDatabase::finishOpen(NodeDatabase db) {
    const HeaderParse parsed = parseHeader(db.bytes_);
    if (!parsed.header)
        return ReadResult<NodeDatabase>::failure(headerErrorText(parsed.error));
    db.header_ = *parsed.header;
    return db;
}

ReadResult<std::span<const std::uint8_t>> NodeDatabase::page(const Bref& ref, PageType type) const {
    using R = ReadResult<std::span<const std::uint8_t>>;
    if (ref.ib > bytes_.size() || bytes_.size() - ref.ib < kPageSize)
        return R::failure("page at " + hexId(ref.ib) + " lies beyond the end of the file");
    const auto p = bytes_.subspan(ref.ib, kPageSize);
    const PageTrailer t = readPageTrailer(format(), p);
    if (t.ptype != type)
        return R::failure("page at " + hexId(ref.ib) + " is not the expected B-tree page");
    return p;
}

NbtEntry NodeDatabase::parseNodeEntry(const std::uint8_t* p) const {
    NbtEntry e;
    if (format() == Format::Unicode) {
        e.nid = loadLe32(p);
        e.bidData = loadLe64(p + 8);
        e.bidSub = loadLe64(p + 16);
        e.nidParent = loadLe32(p + 24);
    } else {
        e.nid = loadLe32(p);
        e.bidData = loadLe32(p + 4);
        e.bidSub = loadLe32(p + 8);
        e.nidParent = loadLe32(p + 12);
    }
    return e;
}

BbtEntry NodeDatabase::parseBlockEntry(const std::uint8_t* p) const {
    BbtEntry e;
    const std::size_t n = idSize(format());
    if (format() == Format::Unicode) {
        e.bref = {loadLe64(p), loadLe64(p + 8)};
    } else {
        e.bref = {loadLe32(p), loadLe32(p + 4)};
    }
    e.cb = loadLe16(p + 2 * n);
    e.cRef = loadLe16(p + 2 * n + 2);
    return e;
}

namespace {

// The fields of a B-tree page that say how to read its entries.
struct BtPageInfo {
    std::size_t count;
    std::size_t entrySize;
    int level;
};

std::optional<BtPageInfo> btPageInfo(Format f, std::span<const std::uint8_t> page,
                                     std::size_t leafEntrySize) {
    const std::uint8_t* info = page.data() + btPageInfoOffset(f);
    BtPageInfo r{info[0], info[2], info[3]};
    const std::size_t expected = r.level == 0 ? leafEntrySize : btEntrySize(f);
    if (r.entrySize < expected || r.count * r.entrySize > btPageInfoOffset(f))
        return std::nullopt;
    return r;
}

} // namespace

template <class Visit>
bool NodeDatabase::walkTree(const Bref& root, PageType type, Visit&& visitLeafEntry) const {
    const std::size_t leafSize =
        type == PageType::NBT ? nbtEntrySize(format()) : bbtEntrySize(format());
    bool complete = true;
    // Depth-first, visiting each page once: a page that points back into the tree cannot make
    // this loop forever.
    std::set<std::uint64_t> visited;
    std::function<void(const Bref&, int)> visit = [&](const Bref& ref, int depth) {
        if (depth > kMaxBTreeDepth || !visited.insert(ref.ib).second) {
            complete = false;
            return;
        }
        const auto p = page(ref, type);
        if (!p) {
            complete = false;
            return;
        }
        const auto info = btPageInfo(format(), *p, leafSize);
        if (!info) {
            complete = false;
            return;
        }
        for (std::size_t i = 0; i < info->count; ++i) {
            const std::uint8_t* e = p->data() + i * info->entrySize;
            if (info->level == 0) {
                visitLeafEntry(e);
            } else {
                const std::size_t n = idSize(format());
                visit(Bref{loadId(format(), e + n), loadId(format(), e + 2 * n)}, depth + 1);
            }
        }
    };
    visit(root, 0);
    return complete;
}

std::vector<NbtEntry> NodeDatabase::allNodes() const {
    std::vector<NbtEntry> nodes;
    walkTree(header_.nbt, PageType::NBT,
             [&](const std::uint8_t* e) { nodes.push_back(parseNodeEntry(e)); });
    return nodes;
}

std::vector<BbtEntry> NodeDatabase::allBlocks() const {
    std::vector<BbtEntry> blocks;
    walkTree(header_.bbt, PageType::BBT,
             [&](const std::uint8_t* e) { blocks.push_back(parseBlockEntry(e)); });
    return blocks;
}

std::optional<NbtEntry> NodeDatabase::findNode(std::uint32_t nid) const {
    Bref ref = header_.nbt;
    const std::size_t n = idSize(format());
    for (int depth = 0; depth <= kMaxBTreeDepth; ++depth) {
        const auto p = page(ref, PageType::NBT);
        if (!p)
            return std::nullopt;
        const auto info = btPageInfo(format(), *p, nbtEntrySize(format()));
        if (!info || info->count == 0)
            return std::nullopt;
        if (info->level == 0) {
            for (std::size_t i = 0; i < info->count; ++i) {
                const NbtEntry e = parseNodeEntry(p->data() + i * info->entrySize);
                if (e.nid == nid)
                    return e;
            }
            return std::nullopt;
        }
        // The last child whose key is not above the NID.
        std::optional<Bref> next;
        for (std::size_t i = 0; i < info->count; ++i) {
            const std::uint8_t* e = p->data() + i * info->entrySize;
            if (loadId(format(), e) > nid)
                break;
            next = Bref{loadId(format(), e + n), loadId(format(), e + 2 * n)};
        }
        if (!next)
            return std::nullopt;
        ref = *next;
    }
    return std::nullopt;
}

std::optional<BbtEntry> NodeDatabase::findBlock(std::uint64_t bid) const {
    const std::uint64_t key = bidKey(bid);
    Bref ref = header_.bbt;
    const std::size_t n = idSize(format());
    for (int depth = 0; depth <= kMaxBTreeDepth; ++depth) {
        const auto p = page(ref, PageType::BBT);
        if (!p)
            return std::nullopt;
        const auto info = btPageInfo(format(), *p, bbtEntrySize(format()));
        if (!info || info->count == 0)
            return std::nullopt;
        if (info->level == 0) {
            for (std::size_t i = 0; i < info->count; ++i) {
                const BbtEntry e = parseBlockEntry(p->data() + i * info->entrySize);
                if (bidKey(e.bref.bid) == key)
                    return e;
            }
            return std::nullopt;
        }
        std::optional<Bref> next;
        for (std::size_t i = 0; i < info->count; ++i) {
            const std::uint8_t* e = p->data() + i * info->entrySize;
            if (bidKey(loadId(format(), e)) > key)
                break;
            next = Bref{loadId(format(), e + n), loadId(format(), e + 2 * n)};
        }
        if (!next)
            return std::nullopt;
        ref = *next;
    }
    return std::nullopt;
}

ReadResult<std::span<const std::uint8_t>> NodeDatabase::rawBlock(std::uint64_t bid) const {
    using R = ReadResult<std::span<const std::uint8_t>>;
    const auto entry = findBlock(bid);
    if (!entry)
        return R::failure("block " + hexId(bid) + " is missing from the block B-tree");
    const std::size_t total = blockTotalSize(format(), entry->cb);
    if (entry->cb > maxBlockDataSize(format()) || entry->bref.ib > bytes_.size() ||
        bytes_.size() - entry->bref.ib < total)
        return R::failure("block " + hexId(bid) + " lies beyond the end of the file");
    const auto block = bytes_.subspan(entry->bref.ib, total);
    const BlockTrailer t =
        readBlockTrailer(format(), block.subspan(total - blockTrailerLayout(format()).size));
    if (t.cb != entry->cb || bidKey(t.bid) != bidKey(bid))
        return R::failure("block " + hexId(bid) + " does not match its trailer");
    return block.first(entry->cb);
}

ReadResult<std::vector<std::uint8_t>> NodeDatabase::readBlock(std::uint64_t bid) const {
    using R = ReadResult<std::vector<std::uint8_t>>;
    const auto raw = rawBlock(bid);
    if (!raw)
        return R::failure(raw.error());
    std::vector<std::uint8_t> data(raw->begin(), raw->end());
    if (!bidIsInternal(bid))
        decodeBlock(header_.crypt, data, bid);
    return data;
}

ReadResult<std::uint64_t> NodeDatabase::collectDataBlocks(std::uint64_t bid, int depth,
                                                          std::vector<std::uint64_t>& out) const {
    using R = ReadResult<std::uint64_t>;
    if (!bidIsInternal(bid)) {
        const auto entry = findBlock(bid);
        if (!entry)
            return R::failure("block " + hexId(bid) + " is missing from the block B-tree");
        // Distinct blocks take at least 64 bytes each; more leaves than that means the tree
        // repeats blocks.
        if (out.size() >= bytes_.size() / kBlockAlignment)
            return R::failure("data tree at block " + hexId(bid) + " repeats its blocks");
        out.push_back(bid);
        return std::uint64_t{entry->cb};
    }
    if (depth >= 2)
        return R::failure("data tree at block " + hexId(bid) + " is nested too deeply");
    const auto raw = rawBlock(bid);
    if (!raw)
        return R::failure(raw.error());
    const auto& b = *raw;
    if (b.size() < kDataTreeHeaderSize || b[0] != kBlockTypeData || b[1] < 1 || b[1] > 2)
        return R::failure("block " + hexId(bid) + " is not a data tree block");
    const std::size_t count = loadLe16(b.data() + 2);
    const std::uint32_t lcbTotal = loadLe32(b.data() + 4);
    const std::size_t n = idSize(format());
    if (kDataTreeHeaderSize + count * n > b.size())
        return R::failure("data tree block " + hexId(bid) + " claims more entries than it holds");
    // An XXBLOCK's children must be XBLOCKs and an XBLOCK's external blocks.
    const int childDepth = b[1] == 2 ? depth + 1 : 2;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t child = loadId(format(), b.data() + kDataTreeHeaderSize + i * n);
        if (b[1] == 2 && !bidIsInternal(child))
            return R::failure("data tree block " + hexId(bid) + " lists a data block as a subtree");
        if (b[1] == 1 && bidIsInternal(child))
            return R::failure("data tree block " + hexId(bid) + " nests another tree");
        const auto sub = collectDataBlocks(child, childDepth, out);
        if (!sub)
            return sub;
        total += *sub;
        if (total > bytes_.size())
            return R::failure("data tree at block " + hexId(bid) + " is larger than the file");
    }
    if (total != lcbTotal)
        return R::failure("data tree block " + hexId(bid) + " has a wrong total size");
    return total;
}

ReadResult<std::vector<std::vector<std::uint8_t>>>
NodeDatabase::readDataBlocks(std::uint64_t bid) const {
    using R = ReadResult<std::vector<std::vector<std::uint8_t>>>;
    std::vector<std::uint64_t> bids;
    const auto total = collectDataBlocks(bid, 0, bids);
    if (!total)
        return R::failure(total.error());
    std::vector<std::vector<std::uint8_t>> blocks;
    blocks.reserve(bids.size());
    for (std::uint64_t b : bids) {
        auto data = readBlock(b);
        if (!data)
            return R::failure(data.error());
        blocks.push_back(std::move(*data));
    }
    return blocks;
}

ReadResult<std::uint64_t> NodeDatabase::dataSize(std::uint64_t bid) const {
    std::vector<std::uint64_t> bids;
    return collectDataBlocks(bid, 0, bids);
}

ReadResult<std::vector<std::uint8_t>> NodeDatabase::readStream(std::uint64_t bid) const {
    std::vector<std::uint8_t> out;
    const auto done = forEachDataBlock(
        bid, [&](std::span<const std::uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); });
    if (!done)
        return ReadResult<std::vector<std::uint8_t>>::failure(done.error());
    return out;
}

ReadResult<std::uint64_t> NodeDatabase::forEachDataBlock(
    std::uint64_t bid, const std::function<void(std::span<const std::uint8_t>)>& visit) const {
    std::vector<std::uint64_t> bids;
    const auto total = collectDataBlocks(bid, 0, bids);
    if (!total)
        return total;
    for (std::uint64_t b : bids) {
        const auto data = readBlock(b);
        if (!data)
            return ReadResult<std::uint64_t>::failure(data.error());
        visit(*data);
    }
    return total;
}

ReadResult<bool> NodeDatabase::collectSubnodes(std::uint64_t bid, int depth,
                                               std::map<std::uint32_t, SlEntry>& out) const {
    using R = ReadResult<bool>;
    if (depth > 1)
        return R::failure("subnode tree at block " + hexId(bid) + " is nested too deeply");
    const auto raw = rawBlock(bid);
    if (!raw)
        return R::failure(raw.error());
    const auto& b = *raw;
    const std::size_t header = subnodeHeaderSize(format());
    if (b.size() < header || b[0] != kBlockTypeSubnode || b[1] > 1)
        return R::failure("block " + hexId(bid) + " is not a subnode tree block");
    const bool leaf = b[1] == 0;
    const std::size_t count = loadLe16(b.data() + 2);
    const std::size_t n = idSize(format());
    const std::size_t entrySize = leaf ? slEntrySize(format()) : siEntrySize(format());
    if (header + count * entrySize > b.size())
        return R::failure("subnode block " + hexId(bid) + " claims more entries than it holds");
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = b.data() + header + i * entrySize;
        if (leaf) {
            SlEntry s{loadLe32(e), loadId(format(), e + n), loadId(format(), e + 2 * n)};
            out[s.nid] = s;
        } else {
            const auto sub = collectSubnodes(loadId(format(), e + n), depth + 1, out);
            if (!sub)
                return sub;
        }
    }
    return true;
}

ReadResult<std::map<std::uint32_t, SlEntry>>
NodeDatabase::readSubnodes(std::uint64_t bidSub) const {
    std::map<std::uint32_t, SlEntry> out;
    if (bidSub == 0)
        return out;
    const auto done = collectSubnodes(bidSub, 0, out);
    if (!done)
        return ReadResult<std::map<std::uint32_t, SlEntry>>::failure(done.error());
    return out;
}

} // namespace parvelle::pst
