#include "store/pst/ltp_writer.h"

#include "platform/text.h"
#include "store/mapi/little_endian.h"

#include <algorithm>
#include <cstring>

namespace parvelle::pst {

namespace {

constexpr std::size_t kMaxBlockData = maxBlockDataSize(Format::Unicode);
constexpr std::size_t kMaxItemsPerBlock = 2047;
constexpr std::uint32_t kTagRowId = 0x67F20003;
constexpr std::uint32_t kTagRowVersion = 0x67F30003;

std::size_t heapHeaderSize(std::size_t index) {
    if (index == 0)
        return kHnHeaderSize;
    return heapBlockHasBitmapHeader(index) ? kHnBitmapHeaderSize : kHnPageHeaderSize;
}

std::size_t pageMapSize(std::size_t items) {
    return 4 + 2 * (items + 1);
}

// Fill level of a heap block from its free bytes (the four-bit classes of MS-PST).
std::uint8_t fillLevel(std::size_t freeBytes) {
    static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                              512,  256,  128,  64,   32,   16,   8};
    for (std::uint8_t level = 0; level < 15; ++level)
        if (freeBytes >= kLimits[level])
            return level;
    return 15;
}

using mapi::appendLe16;
using mapi::appendLe32;
using mapi::appendLe64;
void appendText(Bytes& out, const std::string& s, bool unicode) {
    if (unicode) {
        const std::size_t at = out.size();
        out.resize(at + 2 * s.size());
        out.resize(at + text::utf8ToUtf16leInto(s, out.data() + at));
    } else {
        out.insert(out.end(), s.begin(), s.end());
    }
}

template <class T, class F> Bytes encodeVariableList(const std::vector<T>& items, F&& encodeOne) {
    Bytes out;
    appendLe32(out, static_cast<std::uint32_t>(items.size()));
    std::vector<Bytes> parts;
    for (const T& item : items)
        parts.push_back(encodeOne(item));
    std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * items.size());
    for (const Bytes& p : parts) {
        appendLe32(out, offset);
        offset += static_cast<std::uint32_t>(p.size());
    }
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

bool fitsInline(std::uint16_t type) {
    switch (type) {
    case kPtypInteger16:
    case kPtypInteger32:
    case kPtypFloating32:
    case kPtypErrorCode:
    case kPtypBoolean:
        return true;
    default:
        return false;
    }
}

// A table cell holding an HNID to the value rather than the value itself.
bool isVariableCell(std::uint16_t type) {
    return tableCellSize(type) == 4 && !fitsInline(type);
}

} // namespace

std::uint32_t HeapBuilder::allocate(std::span<const std::uint8_t> item) {
    const std::size_t size = std::min(item.size(), kMaxHeapAllocation);
    auto fits = [&](const Block& b) {
        return b.starts.size() < kMaxItemsPerBlock &&
               b.bytes.size() + size + 1 + pageMapSize(b.starts.size() + 1) <= kMaxBlockData;
    };
    if (blocks_.empty() || !fits(blocks_.back())) {
        blocks_.emplace_back();
        // A heap that needs a second block fills the first; later blocks are sized for it.
        if (blocks_.size() > 1)
            blocks_.back().bytes.reserve(kMaxBlockData);
        blocks_.back().bytes.assign(heapHeaderSize(blocks_.size() - 1), 0);
    }
    Block& b = blocks_.back();
    b.starts.push_back(static_cast<std::uint16_t>(b.bytes.size()));
    b.bytes.insert(b.bytes.end(), item.begin(), item.begin() + static_cast<long>(size));
    return makeHid(static_cast<std::uint32_t>(blocks_.size() - 1),
                   static_cast<std::uint32_t>(b.starts.size()));
}

void HeapBuilder::replace(std::uint32_t hid, std::span<const std::uint8_t> item) {
    Block& b = blocks_.at(hidBlockIndex(hid));
    const std::size_t index = hidIndex(hid) - 1;
    const std::size_t start = b.starts.at(index);
    const std::size_t end = index + 1 < b.starts.size() ? b.starts[index + 1] : b.bytes.size();
    std::copy_n(item.begin(), std::min(item.size(), end - start),
                b.bytes.begin() + static_cast<long>(start));
}

std::vector<Bytes> HeapBuilder::finish() {
    if (blocks_.empty()) {
        blocks_.emplace_back();
        blocks_.back().bytes.assign(kHnHeaderSize, 0);
    }
    std::vector<Bytes> out;
    std::vector<std::uint8_t> levels;
    for (Block& b : blocks_) {
        Bytes block = std::move(b.bytes);
        const std::size_t dataEnd = block.size();
        const std::size_t mapOffset = (dataEnd + 1) & ~std::size_t{1};
        levels.push_back(fillLevel(kMaxBlockData - mapOffset - pageMapSize(b.starts.size())));
        block.resize(mapOffset, 0);
        storeLe16(block.data(), static_cast<std::uint16_t>(mapOffset));
        appendLe16(block, static_cast<std::uint16_t>(b.starts.size()));
        appendLe16(block, 0);
        for (std::uint16_t start : b.starts)
            appendLe16(block, start);
        appendLe16(block, static_cast<std::uint16_t>(dataEnd));
        out.push_back(std::move(block));
    }
    blocks_.clear();
    // Headers: the first block's HNHDR covers blocks 0-7, each bitmap header the next 128.
    auto packLevels = [&](std::uint8_t* dst, std::size_t first, std::size_t count) {
        for (std::size_t k = 0; k < count && first + k < levels.size(); ++k)
            dst[k / 2] |= static_cast<std::uint8_t>(levels[first + k] << (4 * (k % 2)));
    };
    Bytes& first = out[0];
    first[2] = kHeapSignature;
    first[3] = clientSig_;
    storeLe32(&first[4], userRoot_);
    packLevels(&first[8], 0, 8);
    for (std::size_t i = 8; i < out.size(); i += 128)
        packLevels(&out[i][2], i, 128);
    return out;
}

std::uint32_t reserveBTreeHeader(HeapBuilder& heap) {
    const Bytes placeholder(kBthHeaderSize, 0);
    return heap.allocate(placeholder);
}

void writeBTreeOnHeap(HeapBuilder& heap, std::uint32_t headerHid, std::uint8_t keySize,
                      std::uint8_t valueSize, std::span<const std::uint8_t> records) {
    std::uint32_t root = 0;
    std::uint8_t levels = 0;
    const std::size_t recordSize = std::size_t{keySize} + valueSize;
    if (!records.empty()) {
        // Leaves, then index levels of (first key, HID) until one item holds the top.
        std::vector<std::pair<Bytes, std::uint32_t>> nodes;
        const std::size_t perLeaf = kMaxHeapAllocation / recordSize;
        for (std::size_t at = 0; at < records.size(); at += perLeaf * recordSize) {
            const std::size_t n = std::min(perLeaf * recordSize, records.size() - at);
            nodes.emplace_back(Bytes(records.begin() + static_cast<long>(at),
                                     records.begin() + static_cast<long>(at + keySize)),
                               heap.allocate(records.subspan(at, n)));
        }
        const std::size_t perIndex = kMaxHeapAllocation / (keySize + 4u);
        while (nodes.size() > 1) {
            ++levels;
            std::vector<std::pair<Bytes, std::uint32_t>> upper;
            for (std::size_t at = 0; at < nodes.size(); at += perIndex) {
                Bytes item;
                for (std::size_t i = at; i < std::min(nodes.size(), at + perIndex); ++i) {
                    item.insert(item.end(), nodes[i].first.begin(), nodes[i].first.end());
                    appendLe32(item, nodes[i].second);
                }
                upper.emplace_back(nodes[at].first, heap.allocate(item));
            }
            nodes = std::move(upper);
        }
        root = nodes.front().second;
    }
    Bytes header{kClientSigBTree, keySize, valueSize, levels};
    appendLe32(header, root);
    heap.replace(headerHid, header);
}

std::uint32_t storeVariable(HeapBuilder& heap, NdbWriter& ndb, SubnodeIds& ids,
                            std::vector<SubnodeEntry>& subnodes,
                            std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return 0;
    if (bytes.size() <= kMaxHeapAllocation)
        return heap.allocate(bytes);
    const std::uint32_t nid = ids.next(kNidTypeLtp);
    subnodes.push_back({nid, ndb.writeData(bytes), 0});
    return nid;
}

Bytes encodeValue(const mapi::PropValue& value) {
    using mapi::PropType;
    Bytes out;
    const PropType type = value.type();
    const bool unicodeText = mapi::elementType(type) == PropType::Unicode;
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int16_t>) {
                appendLe16(out, static_cast<std::uint16_t>(v));
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                appendLe32(out, static_cast<std::uint32_t>(v));
            } else if constexpr (std::is_same_v<T, bool>) {
                out.push_back(v ? 1 : 0);
            } else if constexpr (std::is_same_v<T, double>) {
                if (type == PropType::Float) {
                    const float f = static_cast<float>(v);
                    std::uint32_t bits;
                    std::memcpy(&bits, &f, 4);
                    appendLe32(out, bits);
                } else {
                    std::uint64_t bits;
                    std::memcpy(&bits, &v, 8);
                    appendLe64(out, bits);
                }
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                appendLe64(out, static_cast<std::uint64_t>(v));
            } else if constexpr (std::is_same_v<T, mapi::FileTime>) {
                appendLe64(out, v.ticks);
            } else if constexpr (std::is_same_v<T, std::string>) {
                appendText(out, v, unicodeText);
            } else if constexpr (std::is_same_v<T, mapi::Guid>) {
                const auto b = v.bytes();
                out.insert(out.end(), b.begin(), b.end());
            } else if constexpr (std::is_same_v<T, mapi::Binary>) {
                out = v;
            } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
                out = encodeVariableList(v, [&](const std::string& s) {
                    Bytes b;
                    appendText(b, s, unicodeText);
                    return b;
                });
            } else if constexpr (std::is_same_v<T, std::vector<mapi::Binary>>) {
                out = encodeVariableList(v, [](const mapi::Binary& b) { return b; });
            } else if constexpr (std::is_same_v<T, std::vector<std::int16_t>>) {
                for (auto x : v)
                    appendLe16(out, static_cast<std::uint16_t>(x));
            } else if constexpr (std::is_same_v<T, std::vector<std::int32_t>>) {
                for (auto x : v)
                    appendLe32(out, static_cast<std::uint32_t>(x));
            } else if constexpr (std::is_same_v<T, std::vector<double>>) {
                for (double x : v) {
                    std::uint64_t bits;
                    std::memcpy(&bits, &x, 8);
                    appendLe64(out, bits);
                }
            } else if constexpr (std::is_same_v<T, std::vector<std::int64_t>>) {
                for (auto x : v)
                    appendLe64(out, static_cast<std::uint64_t>(x));
            } else if constexpr (std::is_same_v<T, std::vector<mapi::FileTime>>) {
                for (auto x : v)
                    appendLe64(out, x.ticks);
            } else if constexpr (std::is_same_v<T, std::vector<mapi::Guid>>) {
                for (const auto& g : v) {
                    const auto b = g.bytes();
                    out.insert(out.end(), b.begin(), b.end());
                }
            }
        },
        value.storage());
    return out;
}

std::size_t tableCellSize(std::uint16_t type) {
    switch (type) {
    case kPtypBoolean:
        return 1;
    case kPtypInteger16:
        return 2;
    case kPtypInteger32:
    case kPtypFloating32:
    case kPtypErrorCode:
        return 4;
    case kPtypFloating64:
    case kPtypCurrency:
    case kPtypFloatingTime:
    case kPtypInteger64:
    case kPtypTime:
        return 8;
    default:
        return 4; // an HNID
    }
}

void PropertyContextBuilder::add(std::uint32_t tag, const mapi::PropValue& value) {
    addRaw((tag & 0xFFFF0000u) | static_cast<std::uint16_t>(value.type()), encodeValue(value));
}

void PropertyContextBuilder::addRaw(std::uint32_t tag, Bytes bytes) {
    putInOrder(props_, static_cast<std::uint16_t>(tag >> 16),
               Prop{static_cast<std::uint16_t>(tag), std::move(bytes), 0});
}

void PropertyContextBuilder::addSubnodeValue(std::uint32_t tag, std::uint32_t nid) {
    putInOrder(props_, static_cast<std::uint16_t>(tag >> 16),
               Prop{static_cast<std::uint16_t>(tag), {}, nid});
}

void PropertyContextBuilder::spill(NdbWriter& ndb, SubnodeIds& ids,
                                   std::vector<SubnodeEntry>& subnodes) {
    for (auto& [id, prop] : props_) {
        if (prop.subnode != 0 || fitsInline(prop.type) || prop.bytes.size() <= kMaxHeapAllocation)
            continue;
        prop.subnode = ids.next(kNidTypeLtp);
        subnodes.push_back({prop.subnode, ndb.writeData(prop.bytes), 0});
        prop.bytes = {};
    }
}

NodeContent PropertyContextBuilder::build(std::vector<SubnodeEntry> subnodes) const {
    HeapBuilder heap(kClientSigPropertyContext);
    const std::uint32_t root = reserveBTreeHeader(heap);
    Bytes records;
    for (const auto& [id, prop] : props_) {
        appendLe16(records, id);
        appendLe16(records, prop.type);
        if (prop.subnode != 0) {
            appendLe32(records, prop.subnode);
        } else if (fitsInline(prop.type)) {
            std::uint8_t cell[4] = {};
            std::copy_n(prop.bytes.begin(), std::min<std::size_t>(prop.bytes.size(), 4), cell);
            records.insert(records.end(), cell, cell + 4);
        } else {
            appendLe32(records, prop.bytes.empty() ? 0 : heap.allocate(prop.bytes));
        }
    }
    writeBTreeOnHeap(heap, root, 2, 6, records);
    heap.setUserRoot(root);
    NodeContent content;
    content.heapBlocks = heap.finish();
    content.subnodes = std::move(subnodes);
    std::sort(content.subnodes.begin(), content.subnodes.end(),
              [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
    return content;
}

TableBuilder::TableBuilder(std::vector<std::uint32_t> tags) {
    std::erase_if(tags, [](std::uint32_t t) { return t == kTagRowId || t == kTagRowVersion; });
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    // Row layout: row id, row version, then 8-, 4-, 2- and 1-byte cells, then the existence
    // bitmap.
    std::vector<Column> cols{{kTagRowId, 0, 4, 0}, {kTagRowVersion, 4, 4, 1}};
    std::uint16_t offset = 8;
    std::uint8_t bit = 2;
    for (std::size_t size : {8u, 4u, 2u, 1u}) {
        for (std::uint32_t tag : tags) {
            if (tableCellSize(static_cast<std::uint16_t>(tag)) != size)
                continue;
            cols.push_back({tag, offset, static_cast<std::uint8_t>(size), bit++});
            offset = static_cast<std::uint16_t>(offset + size);
        }
        if (size == 4)
            end4_ = offset;
        else if (size == 2)
            end2_ = offset;
        else if (size == 1)
            end1_ = offset;
    }
    rowSize_ = static_cast<std::uint16_t>(end1_ + (cols.size() + 7) / 8);
    std::sort(cols.begin(), cols.end(),
              [](const Column& a, const Column& b) { return a.tag < b.tag; });
    columns_ = std::move(cols);
}

void TableBuilder::setCell(Row& row, std::size_t column,
                           std::span<const std::uint8_t> value) const {
    const Column& col = columns_[column];
    if (isVariableCell(static_cast<std::uint16_t>(col.tag))) {
        appendLe16(row.variable, static_cast<std::uint16_t>(column));
        appendLe32(row.variable, static_cast<std::uint32_t>(value.size()));
        row.variable.insert(row.variable.end(), value.begin(), value.end());
    } else {
        std::copy_n(value.begin(), std::min<std::size_t>(value.size(), col.size),
                    &row.fixed[col.offset]);
    }
    row.fixed[end1_ + col.bit / 8] |= static_cast<std::uint8_t>(0x80 >> (col.bit % 8));
}

template <class Values, class Encode>
void TableBuilder::buildRow(std::uint32_t rowId, const Values& values, Encode&& encode) {
    Row row{rowId, Bytes(rowSize_, 0), {}};
    // Both in tag order: one pass over each.
    auto next = values.begin();
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const std::uint32_t tag = columns_[c].tag;
        if (tag == kTagRowId) {
            std::uint8_t id[4];
            storeLe32(id, rowId);
            setCell(row, c, id);
        } else if (tag == kTagRowVersion) {
            const std::uint8_t version[4] = {1, 0, 0, 0};
            setCell(row, c, version);
        } else {
            while (next != values.end() && next->first < tag)
                ++next;
            if (next != values.end() && next->first == tag)
                encode(row, c, next->second);
        }
    }
    row.variable.shrink_to_fit();
    storeRow(std::move(row));
}

template <class Values> void TableBuilder::setValues(std::uint32_t rowId, const Values& values) {
    buildRow(rowId, values, [this](Row& row, std::size_t c, const mapi::PropValue& value) {
        if (static_cast<std::uint16_t>(value.type()) == static_cast<std::uint16_t>(columns_[c].tag))
            setCell(row, c, encodeValue(value));
    });
}

void TableBuilder::setRow(std::uint32_t rowId,
                          const std::map<std::uint32_t, mapi::PropValue>& values) {
    setValues(rowId, values);
}

void TableBuilder::setRow(std::uint32_t rowId, const TagValues& values) {
    setValues(rowId, values);
}

void TableBuilder::setRawRow(std::uint32_t rowId, const std::map<std::uint32_t, Bytes>& values) {
    buildRow(rowId, values,
             [this](Row& row, std::size_t c, const Bytes& value) { setCell(row, c, value); });
}

void TableBuilder::storeRow(Row row) {
    const std::uint32_t rowId = row.id;
    auto found = index_.find(rowId);
    if (found != index_.end()) {
        rows_[found->second] = std::move(row);
        return;
    }
    index_[rowId] = rows_.size();
    rows_.push_back(std::move(row));
}

bool TableBuilder::removeRow(std::uint32_t rowId) {
    auto found = index_.find(rowId);
    if (found == index_.end())
        return false;
    rows_.erase(rows_.begin() + static_cast<long>(found->second));
    index_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        index_[rows_[i].id] = i;
    return true;
}

NodeContent TableBuilder::build(NdbWriter& ndb, SubnodeIds& ids) const {
    HeapBuilder heap(kClientSigTable);
    NodeContent content;
    const std::uint32_t rowIndex = reserveBTreeHeader(heap);

    // Row matrix: fixed-size rows; cells of variable types hold HNIDs into this heap.
    Bytes matrix;
    matrix.reserve(rows_.size() * rowSize_);
    for (const Row& row : rows_) {
        const std::size_t start = matrix.size();
        matrix.insert(matrix.end(), row.fixed.begin(), row.fixed.end());
        for (std::size_t at = 0; at + 6 <= row.variable.size();) {
            const Column& col = columns_[loadLe16(&row.variable[at])];
            const std::size_t length = loadLe32(&row.variable[at + 2]);
            const std::uint32_t hnid = storeVariable(
                heap, ndb, ids, content.subnodes, std::span(row.variable).subspan(at + 6, length));
            storeLe32(&matrix[start + col.offset], hnid);
            at += 6 + length;
        }
    }
    std::uint32_t hnidRows = 0;
    if (!matrix.empty() && matrix.size() <= kMaxHeapAllocation) {
        hnidRows = heap.allocate(matrix);
    } else if (!matrix.empty()) {
        // Rows never straddle blocks: each block holds as many whole rows as fit, and every block
        // but the last is padded to the full block size. Readers find row N at stream offset
        // (N / rowsPerBlock) * 8176 + (N % rowsPerBlock) * rowSize and count the rows from the
        // stream length (MS-PST 2.3.4.4), so a short block shifts every row after it.
        const std::size_t perBlock = (kMaxBlockData / rowSize_) * rowSize_;
        std::vector<std::uint64_t> blocks;
        std::uint64_t total = 0;
        Bytes block;
        for (std::size_t at = 0; at < matrix.size(); at += perBlock) {
            const std::size_t n = std::min(perBlock, matrix.size() - at);
            const bool last = at + n == matrix.size();
            block.assign(matrix.begin() + static_cast<long>(at),
                         matrix.begin() + static_cast<long>(at + n));
            if (!last)
                block.resize(kMaxBlockData, 0);
            blocks.push_back(ndb.writeExternalBlock(block));
            total += block.size();
        }
        hnidRows = ids.next(kNidTypeLtp);
        content.subnodes.push_back({hnidRows, ndb.writeDataTree(blocks, total), 0});
    }

    // Row index: row id -> row number, sorted by row id.
    Bytes records;
    for (const auto& [id, position] : index_) {
        appendLe32(records, id);
        appendLe32(records, static_cast<std::uint32_t>(position));
    }
    writeBTreeOnHeap(heap, rowIndex, 4, 4, records);

    Bytes info{kClientSigTable, static_cast<std::uint8_t>(columns_.size())};
    appendLe16(info, end4_);
    appendLe16(info, end2_);
    appendLe16(info, end1_);
    appendLe16(info, rowSize_);
    appendLe32(info, rowIndex);
    appendLe32(info, hnidRows);
    appendLe32(info, 0); // hidIndex (deprecated)
    for (const Column& col : columns_) {
        appendLe32(info, col.tag);
        appendLe16(info, col.offset);
        info.push_back(col.size);
        info.push_back(col.bit);
    }
    heap.setUserRoot(heap.allocate(info));
    content.heapBlocks = heap.finish();
    std::sort(content.subnodes.begin(), content.subnodes.end(),
              [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
    return content;
}

std::pair<std::uint64_t, std::uint64_t> writeNodeContent(NdbWriter& ndb, const NodeContent& c) {
    std::vector<std::uint64_t> blocks;
    std::uint64_t total = 0;
    for (const Bytes& b : c.heapBlocks) {
        blocks.push_back(ndb.writeExternalBlock(b));
        total += b.size();
    }
    return {ndb.writeDataTree(blocks, total), ndb.writeSubnodeTree(c.subnodes)};
}

} // namespace parvelle::pst
