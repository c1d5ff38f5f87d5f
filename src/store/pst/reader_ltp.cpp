#include "store/pst/reader_ltp.h"

#include <algorithm>
#include <set>

namespace parvelle::pst {

namespace {

// B-trees on a heap are shallow (a heap holds at most a few MB); deeper claims are corruption.
constexpr int kMaxBthLevels = 8;

} // namespace

ReadResult<Heap> Heap::parse(std::vector<std::vector<std::uint8_t>> blocks) {
    using R = ReadResult<Heap>;
    if (blocks.empty() || blocks[0].size() < kHnHeaderSize)
        return R::failure("the heap has no header");
    if (blocks[0][2] != kHeapSignature)
        return R::failure("the heap header has no heap signature");
    Heap heap;
    heap.clientSig_ = blocks[0][3];
    heap.userRoot_ = loadLe32(blocks[0].data() + 4);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto& b = blocks[i];
        const std::size_t headerSize = i == 0                        ? kHnHeaderSize
                                       : heapBlockHasBitmapHeader(i) ? kHnBitmapHeaderSize
                                                                     : kHnPageHeaderSize;
        if (b.size() < headerSize)
            return R::failure("heap block " + std::to_string(i) + " is shorter than its header");
        BlockMap map;
        map.ibHnpm = loadLe16(b.data());
        if (map.ibHnpm < headerSize || map.ibHnpm + 4 > b.size())
            return R::failure("heap block " + std::to_string(i) + " has no page map");
        const std::size_t cAlloc = loadLe16(b.data() + map.ibHnpm);
        map.cFree = loadLe16(b.data() + map.ibHnpm + 2);
        if (map.ibHnpm + 4 + 2 * (cAlloc + 1) > b.size())
            return R::failure("heap block " + std::to_string(i) + " has a page map too long");
        map.rgibAlloc.resize(cAlloc + 1);
        for (std::size_t k = 0; k <= cAlloc; ++k)
            map.rgibAlloc[k] = loadLe16(b.data() + map.ibHnpm + 4 + 2 * k);
        if (map.rgibAlloc.front() < headerSize || map.rgibAlloc.back() > map.ibHnpm ||
            !std::is_sorted(map.rgibAlloc.begin(), map.rgibAlloc.end()))
            return R::failure("heap block " + std::to_string(i) +
                              " has allocations out of order or outside its data");
        heap.maps_.push_back(std::move(map));
    }
    heap.blocks_ = std::move(blocks);
    return heap;
}

ReadResult<std::span<const std::uint8_t>> Heap::item(std::uint32_t hid) const {
    using R = ReadResult<std::span<const std::uint8_t>>;
    if (hid == 0)
        return std::span<const std::uint8_t>{};
    if (!hnidIsHid(hid))
        return R::failure("heap id " + hexId(hid) + " is not a heap id");
    const std::size_t block = hidBlockIndex(hid);
    const std::size_t index = hidIndex(hid);
    if (block >= maps_.size() || index == 0 || index >= maps_[block].rgibAlloc.size())
        return R::failure("heap id " + hexId(hid) + " names no allocation");
    const auto& offsets = maps_[block].rgibAlloc;
    return std::span<const std::uint8_t>(blocks_[block])
        .subspan(offsets[index - 1], offsets[index] - offsets[index - 1]);
}

ReadResult<BTreeOnHeap> readBTreeOnHeap(const Heap& heap, std::uint32_t hidHeader) {
    using R = ReadResult<BTreeOnHeap>;
    const auto header = heap.item(hidHeader);
    if (!header)
        return R::failure(header.error());
    if (header->size() < kBthHeaderSize || (*header)[0] != kClientSigBTree)
        return R::failure("B-tree header " + hexId(hidHeader) + " is not a B-tree header");
    BTreeOnHeap bth;
    bth.cbKey = (*header)[1];
    bth.cbEnt = (*header)[2];
    bth.levels = (*header)[3];
    const std::uint32_t hidRoot = loadLe32(header->data() + 4);
    if (bth.cbKey == 0 || bth.levels > kMaxBthLevels)
        return R::failure("B-tree header " + hexId(hidHeader) + " has impossible sizes");
    struct Walk {
        const Heap& heap;
        BTreeOnHeap& bth;
        std::string error;
        std::set<std::uint32_t> visited;
        bool visit(std::uint32_t hid, int level) {
            if (hid == 0)
                return true;
            // Each page once: a page listed twice would repeat (and multiply) its records.
            if (!visited.insert(hid).second) {
                error = "B-tree page " + hexId(hid) + " is listed twice";
                return false;
            }
            const auto item = heap.item(hid);
            if (!item) {
                error = item.error();
                return false;
            }
            const std::size_t recordSize = bth.cbKey + (level > 0 ? 4u : bth.cbEnt);
            if (item->size() % recordSize != 0) {
                error = "B-tree page " + hexId(hid) + " does not hold whole records";
                return false;
            }
            for (std::size_t off = 0; off < item->size(); off += recordSize) {
                const std::uint8_t* r = item->data() + off;
                if (level > 0) {
                    if (!visit(loadLe32(r + bth.cbKey), level - 1))
                        return false;
                } else {
                    bth.records.emplace_back(
                        std::vector<std::uint8_t>(r, r + bth.cbKey),
                        std::vector<std::uint8_t>(r + bth.cbKey, r + recordSize));
                }
            }
            return true;
        }
    } walk{heap, bth, {}, {}};
    if (!walk.visit(hidRoot, bth.levels))
        return R::failure(walk.error);
    return bth;
}

ReadResult<NodeContext> openNodeContext(const NodeDatabase& db, const NodeRef& ref) {
    using R = ReadResult<NodeContext>;
    auto blocks = db.readDataBlocks(ref.bidData);
    if (!blocks)
        return R::failure(blocks.error());
    auto heap = Heap::parse(std::move(*blocks));
    if (!heap)
        return R::failure(heap.error());
    auto subnodes = db.readSubnodes(ref.bidSub);
    if (!subnodes)
        return R::failure(subnodes.error());
    return NodeContext{&db, std::move(*heap), std::move(*subnodes)};
}

namespace {

// The values of one object or table cannot add up to more than the file holds; a context whose
// cells all name one large subnode would otherwise multiply it.
class ValueBudget {
public:
    explicit ValueBudget(const NodeContext& node) : left_(node.db->bytes().size()) {}
    bool take(std::size_t size) {
        if (size > left_)
            return false;
        left_ -= size;
        return true;
    }

private:
    std::size_t left_;
};

} // namespace

ReadResult<std::vector<std::uint8_t>> readHnid(const NodeContext& node, std::uint32_t hnid) {
    using R = ReadResult<std::vector<std::uint8_t>>;
    if (hnidIsHid(hnid)) {
        const auto item = node.heap.item(hnid);
        if (!item)
            return R::failure(item.error());
        return std::vector<std::uint8_t>(item->begin(), item->end());
    }
    const auto sub = node.subnodes.find(hnid);
    if (sub == node.subnodes.end())
        return R::failure("subnode " + hexId(hnid) + " is missing");
    return node.db->readStream(sub->second.bidData);
}

ReadResult<PropertyMap> readPropertyContext(const NodeContext& node, bool loadSubnodeValues) {
    using R = ReadResult<PropertyMap>;
    if (node.heap.clientSignature() != kClientSigPropertyContext)
        return R::failure("the node is not a property context");
    const auto bth = readBTreeOnHeap(node.heap, node.heap.userRoot());
    if (!bth)
        return R::failure(bth.error());
    if (bth->cbKey != 2 || bth->cbEnt != 6)
        return R::failure("the property context has wrong record sizes");
    PropertyMap props;
    ValueBudget budget(node);
    for (const auto& [key, data] : bth->records) {
        RawValue value;
        value.type = loadLe16(data.data());
        const std::uint32_t hnid = loadLe32(data.data() + 2);
        const std::size_t fixed = fixedPropSize(value.type);
        if (fixed > 0 && fixed <= 4) {
            value.data.assign(data.begin() + 2, data.begin() + 2 + static_cast<long>(fixed));
        } else if (!loadSubnodeValues && !hnidIsHid(hnid)) {
            if (!node.subnodes.contains(hnid))
                return R::failure("subnode " + hexId(hnid) + " is missing");
            value.subnode = hnid;
        } else {
            auto bytes = readHnid(node, hnid);
            if (!bytes)
                return R::failure(bytes.error());
            if (!budget.take(bytes->size()))
                return R::failure("the property context's values exceed the file");
            value.data = std::move(*bytes);
        }
        props[loadLe16(key.data())] = std::move(value);
    }
    return props;
}

ReadResult<PropertyMap> readPropertyContext(const NodeDatabase& db, const NodeRef& ref) {
    const auto node = openNodeContext(db, ref);
    if (!node)
        return ReadResult<PropertyMap>::failure(node.error());
    return readPropertyContext(*node);
}

ReadResult<Table> readTableContext(const NodeContext& node) {
    using R = ReadResult<Table>;
    if (node.heap.clientSignature() != kClientSigTable)
        return R::failure("the node is not a table context");
    const auto info = node.heap.item(node.heap.userRoot());
    if (!info)
        return R::failure(info.error());
    const auto& ti = *info;
    if (ti.size() < kTcInfoSize || ti[0] != kClientSigTable)
        return R::failure("the table has no table header");
    const std::size_t cCols = ti[1];
    if (ti.size() < kTcInfoSize + cCols * kTcColumnSize)
        return R::failure("the table header is shorter than its columns");
    Table table;
    for (int i = 0; i < 4; ++i)
        table.rgib.push_back(loadLe16(ti.data() + 2 + 2 * i));
    const std::size_t rowSize = table.rgib[3];
    const std::size_t bitmapOffset = table.rgib[2];
    if (!(table.rgib[0] <= table.rgib[1] && table.rgib[1] <= table.rgib[2] &&
          bitmapOffset + (cCols + 7) / 8 <= rowSize))
        return R::failure("the table's row layout is inconsistent");
    const std::uint32_t hidRowIndex = loadLe32(ti.data() + 10);
    const std::uint32_t hnidRows = loadLe32(ti.data() + 14);
    for (std::size_t c = 0; c < cCols; ++c) {
        const std::uint8_t* d = ti.data() + kTcInfoSize + c * kTcColumnSize;
        TableColumn col{loadLe32(d), loadLe16(d + 4), d[6], d[7]};
        // The existence bitmap holds one bit per column, rounded up to whole bytes.
        if (col.ibData + col.cbData > rowSize || col.iBit >= (cCols + 7) / 8 * 8 ||
            (col.cbData != 1 && col.cbData != 2 && col.cbData != 4 && col.cbData != 8))
            return R::failure("table column " + hexId(col.tag) + " lies outside the row");
        table.columns.push_back(col);
    }
    const auto index = readBTreeOnHeap(node.heap, hidRowIndex);
    if (!index)
        return R::failure(index.error());
    if (index->records.empty())
        return table;
    if (index->cbKey != 4 || (index->cbEnt != 2 && index->cbEnt != 4))
        return R::failure("the table's row index has wrong record sizes");
    if (rowSize == 0)
        return R::failure("the table has rows of no size");

    // The row matrix: one heap allocation, or a subnode whose blocks each hold whole rows.
    std::vector<std::vector<std::uint8_t>> matrixBlocks;
    if (hnidIsHid(hnidRows)) {
        auto bytes = readHnid(node, hnidRows);
        if (!bytes)
            return R::failure(bytes.error());
        matrixBlocks.push_back(std::move(*bytes));
    } else {
        const auto sub = node.subnodes.find(hnidRows);
        if (sub == node.subnodes.end())
            return R::failure("the table's row matrix subnode is missing");
        auto blocks = node.db->readDataBlocks(sub->second.bidData);
        if (!blocks)
            return R::failure(blocks.error());
        matrixBlocks = std::move(*blocks);
    }
    const std::size_t rowsPerBlock = hnidIsHid(hnidRows)
                                         ? matrixBlocks[0].size() / rowSize
                                         : maxBlockDataSize(node.db->format()) / rowSize;
    if (rowsPerBlock == 0)
        return R::failure("the table's rows do not fit its blocks");

    std::vector<std::pair<std::uint32_t, std::uint32_t>> order; // (row index, row id)
    for (const auto& [key, data] : index->records) {
        const std::uint32_t rowIndex =
            index->cbEnt == 4 ? loadLe32(data.data()) : loadLe16(data.data());
        order.emplace_back(rowIndex, loadLe32(key.data()));
    }
    std::sort(order.begin(), order.end());
    ValueBudget budget(node);
    for (const auto& [rowIndex, rowId] : order) {
        const std::size_t block = rowIndex / rowsPerBlock;
        const std::size_t offset = (rowIndex % rowsPerBlock) * rowSize;
        if (block >= matrixBlocks.size() || offset + rowSize > matrixBlocks[block].size())
            return R::failure("table row " + hexId(rowId) + " lies outside the row matrix");
        const std::uint8_t* row = matrixBlocks[block].data() + offset;
        TableRow out;
        out.rowId = rowId;
        for (const TableColumn& col : table.columns) {
            if (!(row[bitmapOffset + col.iBit / 8] & (0x80 >> (col.iBit % 8))))
                continue;
            RawValue value;
            value.type = static_cast<std::uint16_t>(col.tag & 0xFFFF);
            const std::size_t fixed = fixedPropSize(value.type);
            if (fixed > 0 && fixed <= 8) {
                if (col.cbData != fixed)
                    return R::failure("table column " + hexId(col.tag) + " has a wrong width");
                value.data.assign(row + col.ibData, row + col.ibData + fixed);
            } else {
                if (col.cbData != 4)
                    return R::failure("table column " + hexId(col.tag) + " has a wrong width");
                auto bytes = readHnid(node, loadLe32(row + col.ibData));
                if (!bytes)
                    return R::failure(bytes.error());
                if (!budget.take(bytes->size()))
                    return R::failure("the table's values exceed the file");
                value.data = std::move(*bytes);
            }
            out.cells[static_cast<std::uint16_t>(col.tag >> 16)] = std::move(value);
        }
        table.rows.push_back(std::move(out));
    }
    return table;
}

ReadResult<Table> readTableContext(const NodeDatabase& db, const NodeRef& ref) {
    const auto node = openNodeContext(db, ref);
    if (!node)
        return ReadResult<Table>::failure(node.error());
    return readTableContext(*node);
}

} // namespace parvelle::pst
