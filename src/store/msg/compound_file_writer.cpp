#include "store/msg/compound_file_writer.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace parvelle::msg::cfb {

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

// Everything the writer needs to know before writing: directory order and tree links, where each
// stream goes, and where the control structures sit.
struct Plan {
    int version = 3;
    std::uint32_t sectorSize = 512;
    std::vector<Tree::NodeId> nodeOfEntry; // directory order: depth first, root at 0
    std::vector<std::uint32_t> left, right, child;
    std::vector<Color> color;
    std::vector<std::uint32_t> start; // per entry: first sector or mini sector
    std::vector<bool> inMiniStream;   // per entry
    std::uint64_t dataSectors = 0;    // sectors of the large streams
    std::uint64_t miniSectors = 0;    // 64-byte units in the mini stream
    std::uint32_t miniStreamStart = kEndOfChain;
    std::uint64_t miniStreamSectorCount = 0;
    std::uint32_t miniFatStart = kEndOfChain;
    std::uint64_t miniFatSectors = 0;
    std::uint32_t dirStart = 0;
    std::uint64_t dirSectors = 0;
    std::uint32_t fatStart = 0;
    std::uint64_t fatSectors = 0;
    std::uint32_t difatStart = kEndOfChain;
    std::uint64_t difatSectors = 0;
    std::uint64_t totalSectors = 0;

    std::uint64_t headerBytes() const { return sectorSize; }
    std::uint64_t fileSize() const { return headerBytes() + totalSectors * sectorSize; }
};

// Builds a balanced search tree over `sorted` (entry ids in name order). Nodes on the deepest
// level are red and all others black: every path from the root to a leaf then passes the same
// number of black nodes and no red node has a red child, because a tree split at the middle
// has all its missing children on its last two levels.
std::uint32_t buildSiblingTree(const std::vector<std::uint32_t>& sorted, std::size_t lo,
                               std::size_t hi, int depth, int height, Plan& plan) {
    if (lo >= hi)
        return kNoStream;
    const std::size_t mid = lo + (hi - lo) / 2;
    const std::uint32_t e = sorted[mid];
    plan.left[e] = buildSiblingTree(sorted, lo, mid, depth + 1, height, plan);
    plan.right[e] = buildSiblingTree(sorted, mid + 1, hi, depth + 1, height, plan);
    plan.color[e] = (depth == height && depth > 1) ? Color::Red : Color::Black;
    return e;
}

int treeHeight(std::size_t n) {
    int h = 0;
    while (n > 0) {
        ++h;
        n >>= 1;
    }
    return h;
}

Result<Plan> makePlan(const Tree& tree, int version) {
    const auto& nodes = tree.nodes();
    Plan plan;
    plan.version = version;
    plan.sectorSize = version == 4 ? 4096 : 512;
    const std::uint32_t S = plan.sectorSize;

    // Directory order: depth first from the root.
    std::vector<std::uint32_t> entryOf(nodes.size(), kNoStream);
    std::vector<Tree::NodeId> stack{Tree::kRoot};
    while (!stack.empty()) {
        const Tree::NodeId n = stack.back();
        stack.pop_back();
        entryOf[n] = static_cast<std::uint32_t>(plan.nodeOfEntry.size());
        plan.nodeOfEntry.push_back(n);
        const auto& kids = nodes[n].children;
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back(*it);
    }
    const std::size_t entries = plan.nodeOfEntry.size();
    if (entries > 0x00FFFFFF)
        return Result<Plan>::failure("too many storages and streams for one compound file");
    plan.left.assign(entries, kNoStream);
    plan.right.assign(entries, kNoStream);
    plan.child.assign(entries, kNoStream);
    plan.color.assign(entries, Color::Black);
    plan.start.assign(entries, kEndOfChain);
    plan.inMiniStream.assign(entries, false);

    for (std::size_t e = 0; e < entries; ++e) {
        const auto& node = nodes[plan.nodeOfEntry[e]];
        if (!node.isStorage || node.children.empty())
            continue;
        std::vector<std::uint32_t> sorted;
        for (Tree::NodeId k : node.children)
            sorted.push_back(entryOf[k]);
        std::sort(sorted.begin(), sorted.end(), [&](std::uint32_t a, std::uint32_t b) {
            return compareEntryNames(nodes[plan.nodeOfEntry[a]].name,
                                     nodes[plan.nodeOfEntry[b]].name) < 0;
        });
        plan.child[e] =
            buildSiblingTree(sorted, 0, sorted.size(), 1, treeHeight(sorted.size()), plan);
    }

    // Stream placement: large streams in regular sectors, small ones in the mini stream.
    for (std::size_t e = 0; e < entries; ++e) {
        const Tree::NodeId n = plan.nodeOfEntry[e];
        if (nodes[n].isStorage)
            continue;
        const std::uint64_t size = tree.streamSize(n);
        if (version == 3 && size >= kVersion3MaxFileSize)
            return Result<Plan>::failure("stream too large for a version 3 compound file");
        if (size == 0)
            continue;
        if (size >= kMiniStreamCutoff) {
            plan.start[e] = static_cast<std::uint32_t>(plan.dataSectors);
            plan.dataSectors += ceilDiv(size, S);
        } else {
            plan.inMiniStream[e] = true;
            plan.start[e] = static_cast<std::uint32_t>(plan.miniSectors);
            plan.miniSectors += ceilDiv(size, kMiniSectorSize);
        }
        if (plan.dataSectors > kMaxRegularSector || plan.miniSectors > kMaxRegularSector)
            return Result<Plan>::failure("compound file too large");
    }
    std::uint64_t next = plan.dataSectors;
    plan.miniStreamSectorCount = ceilDiv(plan.miniSectors * kMiniSectorSize, S);
    if (plan.miniStreamSectorCount > 0)
        plan.miniStreamStart = static_cast<std::uint32_t>(next);
    next += plan.miniStreamSectorCount;
    plan.miniFatSectors = ceilDiv(plan.miniSectors * 4, S);
    if (plan.miniFatSectors > 0)
        plan.miniFatStart = static_cast<std::uint32_t>(next);
    next += plan.miniFatSectors;
    plan.dirStart = static_cast<std::uint32_t>(next);
    plan.dirSectors = ceilDiv(entries * kDirectoryEntrySize, S);
    next += plan.dirSectors;

    // The FAT covers every sector, itself and the DIFAT included.
    const std::uint64_t perFat = S / 4;
    const std::uint64_t perDifat = perFat - 1;
    std::uint64_t fat = 0, difat = 0;
    for (;;) {
        const std::uint64_t newFat = ceilDiv(next + fat + difat, perFat);
        const std::uint64_t newDifat =
            newFat > kHeaderDifatEntries ? ceilDiv(newFat - kHeaderDifatEntries, perDifat) : 0;
        if (newFat == fat && newDifat == difat)
            break;
        fat = newFat;
        difat = newDifat;
    }
    plan.fatStart = static_cast<std::uint32_t>(next);
    plan.fatSectors = fat;
    next += fat;
    if (difat > 0)
        plan.difatStart = static_cast<std::uint32_t>(next);
    plan.difatSectors = difat;
    next += difat;
    plan.totalSectors = next;
    if (next > kMaxRegularSector)
        return Result<Plan>::failure("compound file too large");
    return plan;
}

Result<Plan> choosePlan(const Tree& tree, const WriteOptions& options) {
    if (options.majorVersion == 3 || options.majorVersion == 4) {
        auto plan = makePlan(tree, options.majorVersion);
        if (plan && options.majorVersion == 3 && plan->fileSize() > kVersion3MaxFileSize)
            return Result<Plan>::failure("file too large for a version 3 compound file");
        return plan;
    }
    if (options.majorVersion != 0)
        return Result<Plan>::failure("unknown compound file version");
    auto v3 = makePlan(tree, 3);
    if (v3 && v3->fileSize() <= kVersion3MaxFileSize)
        return v3;
    return makePlan(tree, 4);
}

// Buffered output that remembers the first failure.
class Sink {
public:
    explicit Sink(std::FILE* f) : file_(f) {}
    void write(const void* data, std::size_t n) {
        if (ok_ && n > 0 && std::fwrite(data, 1, n, file_) != n)
            ok_ = false;
    }
    void zeros(std::uint64_t n) {
        static const std::uint8_t block[4096] = {};
        while (n > 0) {
            const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, 4096));
            write(block, k);
            n -= k;
        }
    }
    void words(const std::vector<std::uint32_t>& v) {
        std::vector<std::uint8_t> buf(v.size() * 4);
        for (std::size_t i = 0; i < v.size(); ++i)
            put32(&buf[i * 4], v[i]);
        write(buf.data(), buf.size());
    }
    bool ok() const { return ok_; }

private:
    std::FILE* file_;
    bool ok_ = true;
};

void chain(std::vector<std::uint32_t>& table, std::uint64_t first, std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i)
        table[first + i] =
            (i + 1 == count) ? kEndOfChain : static_cast<std::uint32_t>(first + i + 1);
}

// Copies a stream's bytes to the sink in pieces.
Status copyStream(const Tree::Node& node, std::uint64_t size, Sink& sink,
                  std::vector<std::uint8_t>& buffer) {
    if (!node.hasSource) {
        sink.write(node.bytes.data(), node.bytes.size());
        return Status::success();
    }
    std::uint64_t done = 0;
    while (done < size) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - done, buffer.size()));
        if (!node.source.read(done, std::span<std::uint8_t>(buffer.data(), n)))
            return Status::failure("cannot read the content of stream \"" +
                                   text::utf16ToUtf8(node.name) + "\"");
        sink.write(buffer.data(), n);
        if (!sink.ok())
            return Status::failure("cannot write the compound file");
        done += n;
    }
    return Status::success();
}

void encodeEntry(std::uint8_t* p, const Tree& tree, const Plan& plan, std::size_t e,
                 std::uint64_t timestamp) {
    const Tree::NodeId n = plan.nodeOfEntry[e];
    const auto& node = tree.nodes()[n];
    std::memset(p, 0, kDirectoryEntrySize);
    for (std::size_t i = 0; i < node.name.size(); ++i)
        put16(p + 2 * i, node.name[i]);
    put16(p + 64, static_cast<std::uint16_t>((node.name.size() + 1) * 2));
    const EntryType type = n == Tree::kRoot
                               ? EntryType::Root
                               : (node.isStorage ? EntryType::Storage : EntryType::Stream);
    p[66] = static_cast<std::uint8_t>(type);
    p[67] = static_cast<std::uint8_t>(plan.color[e]);
    put32(p + 68, plan.left[e]);
    put32(p + 72, plan.right[e]);
    put32(p + 76, plan.child[e]);
    if (node.isStorage)
        std::memcpy(p + 80, node.clsid.data(), 16);
    if (type == EntryType::Storage) {
        put64(p + 100, timestamp);
        put64(p + 108, timestamp);
    } else if (type == EntryType::Root) {
        put64(p + 108, timestamp);
    }
    if (type == EntryType::Root) {
        put32(p + 116, plan.miniStreamStart);
        put64(p + 120, plan.miniSectors * kMiniSectorSize);
    } else if (type == EntryType::Stream) {
        put32(p + 116, plan.start[e]);
        put64(p + 120, tree.streamSize(n));
    }
}

void encodeUnusedEntry(std::uint8_t* p) {
    std::memset(p, 0, kDirectoryEntrySize);
    put32(p + 68, kNoStream);
    put32(p + 72, kNoStream);
    put32(p + 76, kNoStream);
}

} // namespace

Tree::Tree() {
    Node root;
    root.name = u"Root Entry";
    root.isStorage = true;
    nodes_.push_back(std::move(root));
}

Result<Tree::NodeId> Tree::addNode(NodeId parent, std::string_view utf8Name, bool isStorage) {
    if (parent >= nodes_.size() || !nodes_[parent].isStorage)
        return Result<NodeId>::failure("the parent of an entry must be a storage");
    std::u16string name = text::utf8ToUtf16(utf8Name);
    if (std::string why = checkEntryName(name); !why.empty())
        return Result<NodeId>::failure(why + ": \"" + std::string(utf8Name) + "\"");
    for (NodeId sibling : nodes_[parent].children)
        if (compareEntryNames(nodes_[sibling].name, name) == 0)
            return Result<NodeId>::failure("duplicate entry name \"" + std::string(utf8Name) +
                                           "\"");
    Node node;
    node.name = std::move(name);
    node.isStorage = isStorage;
    nodes_.push_back(std::move(node));
    const NodeId id = nodes_.size() - 1;
    nodes_[parent].children.push_back(id);
    return id;
}

Result<Tree::NodeId> Tree::addStorage(NodeId parent, std::string_view utf8Name,
                                      const Clsid& clsid) {
    auto id = addNode(parent, utf8Name, true);
    if (id)
        nodes_[*id].clsid = clsid;
    return id;
}

Status Tree::addStream(NodeId parent, std::string_view utf8Name, std::vector<std::uint8_t> bytes) {
    auto id = addNode(parent, utf8Name, false);
    if (!id)
        return Status::failure(id.error());
    nodes_[*id].bytes = std::move(bytes);
    return Status::success();
}

Status Tree::addStream(NodeId parent, std::string_view utf8Name, StreamSource source) {
    if (!source.read && source.size > 0)
        return Status::failure("a stream source needs a reader");
    auto id = addNode(parent, utf8Name, false);
    if (!id)
        return Status::failure(id.error());
    nodes_[*id].source = std::move(source);
    nodes_[*id].hasSource = true;
    return Status::success();
}

void Tree::setClsid(NodeId storage, const Clsid& clsid) {
    if (storage < nodes_.size() && nodes_[storage].isStorage)
        nodes_[storage].clsid = clsid;
}

std::uint64_t Tree::streamSize(NodeId id) const {
    const Node& n = nodes_[id];
    if (n.isStorage)
        return 0;
    return n.hasSource ? n.source.size : n.bytes.size();
}

Result<PlannedSize> planCompoundFile(const Tree& tree, const WriteOptions& options) {
    auto plan = choosePlan(tree, options);
    if (!plan)
        return Result<PlannedSize>::failure(plan.error());
    return PlannedSize{plan->version, plan->fileSize()};
}

Status writeCompoundFile(const Tree& tree, std::FILE* out, const WriteOptions& options) {
    auto planned = choosePlan(tree, options);
    if (!planned)
        return Status::failure(planned.error());
    const Plan& plan = *planned;
    const std::uint32_t S = plan.sectorSize;
    const auto& nodes = tree.nodes();
    const std::size_t entries = plan.nodeOfEntry.size();

    // FAT and mini FAT.
    std::vector<std::uint32_t> fat(plan.fatSectors * (S / 4), kFreeSector);
    std::vector<std::uint32_t> miniFat(plan.miniFatSectors * (S / 4), kFreeSector);
    for (std::size_t e = 0; e < entries; ++e) {
        const Tree::NodeId n = plan.nodeOfEntry[e];
        if (nodes[n].isStorage || plan.start[e] == kEndOfChain)
            continue;
        const std::uint64_t size = tree.streamSize(n);
        if (plan.inMiniStream[e])
            chain(miniFat, plan.start[e], ceilDiv(size, kMiniSectorSize));
        else
            chain(fat, plan.start[e], ceilDiv(size, S));
    }
    if (plan.miniStreamSectorCount > 0)
        chain(fat, plan.miniStreamStart, plan.miniStreamSectorCount);
    if (plan.miniFatSectors > 0)
        chain(fat, plan.miniFatStart, plan.miniFatSectors);
    chain(fat, plan.dirStart, plan.dirSectors);
    for (std::uint64_t i = 0; i < plan.fatSectors; ++i)
        fat[plan.fatStart + i] = kFatSector;
    for (std::uint64_t i = 0; i < plan.difatSectors; ++i)
        fat[plan.difatStart + i] = kDifatSector;

    Sink sink(out);

    // Header.
    std::vector<std::uint8_t> header(plan.headerBytes(), 0);
    std::memcpy(header.data(), kSignature.data(), kSignature.size());
    put16(&header[24], kMinorVersion);
    put16(&header[26], static_cast<std::uint16_t>(plan.version));
    put16(&header[28], kByteOrderMark);
    put16(&header[30], plan.version == 4 ? 12 : 9);
    put16(&header[32], kMiniSectorShift);
    put32(&header[40], plan.version == 4 ? static_cast<std::uint32_t>(plan.dirSectors) : 0);
    put32(&header[44], static_cast<std::uint32_t>(plan.fatSectors));
    put32(&header[48], plan.dirStart);
    put32(&header[56], kMiniStreamCutoff);
    put32(&header[60], plan.miniFatStart);
    put32(&header[64], static_cast<std::uint32_t>(plan.miniFatSectors));
    put32(&header[68], plan.difatStart);
    put32(&header[72], static_cast<std::uint32_t>(plan.difatSectors));
    for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i)
        put32(&header[76 + 4 * i], i < plan.fatSectors ? plan.fatStart + i : kFreeSector);
    sink.write(header.data(), header.size());

    // Large streams, each padded to whole sectors, in directory order (as planned).
    std::vector<std::uint8_t> buffer(1 << 20);
    for (std::size_t e = 0; e < entries; ++e) {
        const Tree::NodeId n = plan.nodeOfEntry[e];
        if (nodes[n].isStorage || plan.start[e] == kEndOfChain || plan.inMiniStream[e])
            continue;
        const std::uint64_t size = tree.streamSize(n);
        if (Status s = copyStream(nodes[n], size, sink, buffer); !s)
            return s;
        sink.zeros(ceilDiv(size, S) * S - size);
    }

    // The mini stream, padded to whole sectors.
    std::uint64_t miniBytes = 0;
    for (std::size_t e = 0; e < entries; ++e) {
        const Tree::NodeId n = plan.nodeOfEntry[e];
        if (!plan.inMiniStream[e])
            continue;
        const std::uint64_t size = tree.streamSize(n);
        if (Status s = copyStream(nodes[n], size, sink, buffer); !s)
            return s;
        const std::uint64_t padded = ceilDiv(size, kMiniSectorSize) * kMiniSectorSize;
        sink.zeros(padded - size);
        miniBytes += padded;
    }
    sink.zeros(plan.miniStreamSectorCount * S - miniBytes);

    sink.words(miniFat);

    // Directory, unused entries filling its last sector.
    std::vector<std::uint8_t> dir(plan.dirSectors * S);
    for (std::size_t e = 0; e < plan.dirSectors * S / kDirectoryEntrySize; ++e) {
        std::uint8_t* p = &dir[e * kDirectoryEntrySize];
        if (e < entries)
            encodeEntry(p, tree, plan, e, options.timestamp);
        else
            encodeUnusedEntry(p);
    }
    sink.write(dir.data(), dir.size());

    sink.words(fat);

    // DIFAT sectors: FAT sector numbers past the 109 in the header, then the next DIFAT sector.
    const std::uint64_t perDifat = S / 4 - 1;
    for (std::uint64_t d = 0; d < plan.difatSectors; ++d) {
        std::vector<std::uint32_t> words(S / 4, kFreeSector);
        for (std::uint64_t i = 0; i < perDifat; ++i) {
            const std::uint64_t fatIndex = kHeaderDifatEntries + d * perDifat + i;
            if (fatIndex < plan.fatSectors)
                words[i] = static_cast<std::uint32_t>(plan.fatStart + fatIndex);
        }
        words[perDifat] = d + 1 < plan.difatSectors
                              ? static_cast<std::uint32_t>(plan.difatStart + d + 1)
                              : kEndOfChain;
        sink.words(words);
    }

    if (!sink.ok())
        return Status::failure("cannot write the compound file");
    return Status::success();
}

} // namespace parvelle::msg::cfb
