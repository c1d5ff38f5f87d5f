#include "store/pst/ndb_writer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parvelle::pst {

namespace {

constexpr Format kFormat = Format::Unicode;
constexpr std::size_t kMaxData = maxBlockDataSize(kFormat);      // 8176
constexpr std::size_t kTreeFanout = maxDataTreeEntries(kFormat); // 1021
constexpr std::size_t kSlFanout = (kMaxData - 8) / 24;           // 340
constexpr std::size_t kSiFanout = (kMaxData - 8) / 16;           // 510
// Runs of reused free space are built up to this size before they are written.
constexpr std::size_t kReusedRunBytes = 1u << 20;
// The header's node-id counters (last index used) as Outlook starts a new file: folders after
// index 0x400, search folders after 0x4000, messages after 0x10000, associated messages 0x8000.
constexpr std::uint32_t kFirstNidIndex = 0x400;

std::uint64_t alignUp(std::uint64_t v, std::uint64_t a) {
    return (v + a - 1) / a * a;
}
std::uint64_t intervalOf(std::uint64_t ib) {
    return (ib - kFirstAMapOffset) / kAMapCoverage;
}
std::uint64_t mapPagesEnd(std::uint64_t n) {
    return amapOffset(n) + mapPagesOfInterval(n).count * kPageSize;
}

// The interval whose FMap page covers the AMap of interval n (n at least kFMapFirstAMap).
std::uint64_t fmapHolder(std::uint64_t n) {
    return kFMapFirstAMap + (n - kFMapFirstAMap) / kFMapEveryAMaps * kFMapEveryAMaps;
}

// The longest run of free slots in an AMap bitmap, as an FMap byte holds it (at most 255).
std::uint8_t longestFreeRun(const std::array<std::uint8_t, kMapBitmapBytes>& bits) {
    std::uint64_t longest = 0;
    std::uint64_t run = 0;
    for (std::uint8_t byte : bits) {
        if (byte == 0) {
            run += 8;
        } else {
            for (int bit = 7; bit >= 0; --bit) {
                if (byte & (1u << bit)) {
                    longest = std::max(longest, run);
                    run = 0;
                } else {
                    ++run;
                }
            }
        }
        if (longest >= 255)
            return 255;
    }
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(std::max(longest, run), 255));
}

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Takes the advisory write lock; another writer holding it means the file is in use.
bool lockFile(int fd, const std::string& path, std::string& error) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    error = errno == EWOULDBLOCK ? "the PST file " + path + " is being written by another process"
                                 : errnoText("cannot lock the PST file");
    return false;
}

} // namespace

NdbWriter::NdbWriter() : committer_(std::make_unique<platform::BackgroundWorker>(2)) {}

NdbWriter::~NdbWriter() {
    // The write in progress and the commits it hands on finish before the descriptor closes.
    out_.reset();
    committer_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<NdbWriter> NdbWriter::create(const std::string& path, std::string& error) {
    std::unique_ptr<NdbWriter> w(new NdbWriter());
    w->path_ = path;
    w->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (w->fd_ < 0) {
        error = errnoText(("cannot create " + path).c_str());
        return nullptr;
    }
    if (!lockFile(w->fd_, path, error) || !w->initNew(error))
        return nullptr;
    return w;
}

bool NdbWriter::lockedByAnotherProcess(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

std::unique_ptr<NdbWriter> NdbWriter::open(const std::string& path, std::string& error) {
    std::unique_ptr<NdbWriter> w(new NdbWriter());
    w->path_ = path;
    w->fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (w->fd_ < 0) {
        error = errnoText(("cannot open " + path).c_str());
        return nullptr;
    }
    if (!lockFile(w->fd_, path, error) || !w->load(error))
        return nullptr;
    return w;
}

bool NdbWriter::initNew(std::string& error) {
    header_ = Header{};
    header_.format = kFormat;
    header_.crypt = CryptMethod::Permute;
    header_.bidNextB = kBidIncrement;
    header_.bidNextP = kBidIncrement;
    header_.dwUnique = 1;
    header_.rgnid.fill(kFirstNidIndex);
    header_.rgnid[kNidTypeSearchFolder] = 0x4000;
    header_.rgnid[kNidTypeNormalMessage] = 0x10000;
    header_.rgnid[kNidTypeAssocMessage] = 0x8000;
    // The header's own free maps are deprecated: Outlook fills them with 0xFF.
    header_.rgbFM.fill(0xFF);
    header_.rgbFP.fill(0xFF);
    headerBytes_.assign(kFirstAMapOffset, 0);
    ensureInterval(0);
    eof_ = mapPagesEnd(0);
    // The header area and the first map pages are written at the first commit.
    startAppending(0);
    std::memset(out_->extend(eof_), 0, eof_);
    reused_.reserve(kReusedRunBytes);
    (void)error;
    return true;
}

bool NdbWriter::readAt(std::uint64_t ib, std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(ib + done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool NdbWriter::writeAt(std::uint64_t ib, std::span<const std::uint8_t> bytes, std::string& error) {
    std::string failure = writeAllAt(fd_, bytes, ib);
    if (failure.empty())
        return true;
    error = std::move(failure);
    return false;
}

bool NdbWriter::load(std::string& error) {
    headerBytes_.assign(kFirstAMapOffset, 0);
    struct stat st {};
    if (fstat(fd_, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < kUnicodeHeader.size ||
        !readAt(0, std::span(headerBytes_).first(kUnicodeHeader.size))) {
        error = path_ + " is not a PST file (too short)";
        return false;
    }
    const HeaderParse parsed = parseHeader(headerBytes_);
    if (!parsed.header) {
        error = path_ + " is not a PST file";
        return false;
    }
    header_ = *parsed.header;
    if (header_.format != Format::Unicode) {
        error = path_ +
                " is an ANSI (Outlook 97-2002) PST file; only Unicode PST files can be added to";
        return false;
    }
    if (header_.wMagicClient != kClientMagicPst) {
        error = path_ + " is an offline store (OST), not a PST file";
        return false;
    }
    if (header_.ibFileEof < kFirstAMapOffset + kAMapCoverage ||
        header_.ibFileEof > static_cast<std::uint64_t>(st.st_size)) {
        error = path_ + " is damaged: its header does not match the file size";
        return false;
    }

    // Walk both B-trees; remember their pages so the next commit frees them.
    std::vector<std::uint8_t> page(kPageSize);
    std::vector<BlockInfo> blocks;
    auto walk = [&](auto&& self, std::uint64_t ib, bool nodeTree, int depth) -> bool {
        if (depth > 16 || ib + kPageSize > header_.ibFileEof || !readAt(ib, page))
            return false;
        const PageTrailer t = readPageTrailer(kFormat, page);
        if (t.ptype != (nodeTree ? PageType::NBT : PageType::BBT) ||
            t.dwCRC != computeCrc(std::span(page).first(pageDataSize(kFormat))))
            return false;
        oldBTreePages_.emplace_back(ib, kPageSize);
        const std::size_t info = btPageInfoOffset(kFormat);
        const std::size_t cEnt = page[info], cbEnt = page[info + 2], cLevel = page[info + 3];
        if (cbEnt == 0 || cEnt * cbEnt > info)
            return false;
        std::vector<std::uint8_t> copy(page.begin(), page.begin() + static_cast<long>(info));
        for (std::size_t i = 0; i < cEnt; ++i) {
            const std::uint8_t* e = copy.data() + i * cbEnt;
            if (cLevel > 0) {
                if (!self(self, loadLe64(e + 16), nodeTree, depth + 1))
                    return false;
            } else if (nodeTree) {
                NodeEntry n{static_cast<std::uint32_t>(loadLe64(e)), loadLe64(e + 8),
                            loadLe64(e + 16), loadLe32(e + 24)};
                nodes_[n.nid] = n;
            } else {
                const std::uint16_t cRef = loadLe16(e + 18);
                blocks.push_back({bidKey(loadLe64(e)), loadLe64(e + 8), loadLe16(e + 16),
                                  static_cast<std::uint16_t>(cRef > 0 ? cRef - 1 : 0)});
            }
        }
        return true;
    };
    if (!walk(walk, header_.nbt.ib, true, 0) || !walk(walk, header_.bbt.ib, false, 0)) {
        error = path_ + " is damaged: its node or block index cannot be read";
        return false;
    }
    std::sort(blocks.begin(), blocks.end(),
              [](const BlockInfo& a, const BlockInfo& b) { return a.bid < b.bid; });
    blocks_ = std::move(blocks);

    // Rebuild the allocation maps from what the B-trees reference, so the maps are exact even
    // when the file was left with its maps flagged invalid.
    const std::uint64_t intervals = (header_.ibFileEof - kFirstAMapOffset) / kAMapCoverage;
    for (std::uint64_t n = 0; n < intervals; ++n)
        ensureInterval(n);
    for (const BlockInfo& b : blocks_)
        setAllocated(b.ib, blockTotalSize(kFormat, b.cb), true);
    for (const auto& [ib, size] : oldBTreePages_)
        setAllocated(ib, size, true);
    std::fill(amapDirty_.begin(), amapDirty_.end(), true);
    // What nothing references is free in the committed state, so new writes may go there.
    for (std::uint64_t n = 0; n < amaps_.size(); ++n) {
        for (std::uint64_t slot = 0; slot < kMapBitmapBytes * 8;) {
            if (amaps_[n][slot / 8] == 0xFF && slot % 8 == 0) {
                slot += 8;
                continue;
            }
            std::uint64_t end = slot;
            while (end < kMapBitmapBytes * 8 && !(amaps_[n][end / 8] & (0x80 >> (end % 8))))
                ++end;
            if (end > slot)
                addFreeSpace(amapOffset(n) + slot * kAMapSlotBytes, (end - slot) * kAMapSlotBytes);
            slot = end + 1;
        }
    }
    eof_ = header_.ibFileEof;
    startAppending(eof_);
    reused_.reserve(kReusedRunBytes);
    return true;
}

void NdbWriter::ensureInterval(std::uint64_t n) {
    while (amaps_.size() <= n) {
        const std::uint64_t index = amaps_.size();
        std::array<std::uint8_t, kMapBitmapBytes> bitmap{};
        const MapPages pages = mapPagesOfInterval(index);
        for (std::size_t i = 0; i < pages.count; ++i)
            bitmap[i] = 0xFF; // each 512-byte map page is eight 64-byte slots
        amaps_.push_back(bitmap);
        amapDirty_.push_back(true);
        amapFree_ += kAMapCoverage - pages.count * kPageSize;
    }
}

void NdbWriter::setAllocated(std::uint64_t ib, std::uint64_t size, bool allocated) {
    const std::uint64_t end = ib + size;
    for (std::uint64_t at = ib; at < end;) {
        const std::uint64_t n = intervalOf(at);
        ensureInterval(n);
        const std::uint64_t pieceEnd = std::min(end, amapOffset(n + 1));
        const std::uint64_t first = (at - amapOffset(n)) / kAMapSlotBytes;
        const std::uint64_t last = (pieceEnd - amapOffset(n) + kAMapSlotBytes - 1) / kAMapSlotBytes;
        std::uint64_t changed = 0;
        for (std::uint64_t slot = first; slot < last;) {
            // Whole bytes at once where the run covers them, single bits at its ends.
            const bool wholeByte = slot % 8 == 0 && slot + 8 <= last;
            const auto mask = static_cast<std::uint8_t>(wholeByte ? 0xFF : 0x80 >> (slot % 8));
            std::uint8_t& byte = amaps_[n][slot / 8];
            const auto updated = static_cast<std::uint8_t>(allocated ? byte | mask : byte & ~mask);
            changed += static_cast<std::uint64_t>(
                std::popcount(static_cast<unsigned>(static_cast<std::uint8_t>(byte ^ updated))));
            byte = updated;
            slot += wholeByte ? 8 : 1;
        }
        if (changed != 0) {
            amapFree_ = allocated ? amapFree_ - changed * kAMapSlotBytes
                                  : amapFree_ + changed * kAMapSlotBytes;
            amapDirty_[n] = true;
        }
        at = pieceEnd;
    }
}

std::optional<std::uint64_t> NdbWriter::takeFreeSpace(std::uint64_t size, std::uint64_t align) {
    // Next fit: extents are visited front to back once between two commits, so the search stays
    // linear in their number however many blocks are placed.
    for (auto it = freeSpace_.lower_bound(freeCursor_); it != freeSpace_.end(); ++it) {
        const auto [start, length] = *it;
        const std::uint64_t ib = alignUp(start, align);
        if (ib + size > start + length)
            continue;
        freeSpace_.erase(it);
        if (ib > start)
            freeSpace_.emplace(start, ib - start);
        if (ib + size < start + length)
            freeSpace_.emplace(ib + size, start + length - ib - size);
        freeCursor_ = ib + size;
        return ib;
    }
    freeCursor_ = std::numeric_limits<std::uint64_t>::max();
    return std::nullopt;
}

void NdbWriter::addFreeSpace(std::uint64_t ib, std::uint64_t size) {
    auto next = freeSpace_.lower_bound(ib);
    if (next != freeSpace_.begin()) {
        auto previous = std::prev(next);
        if (previous->first + previous->second == ib) {
            ib = previous->first;
            size += previous->second;
            freeSpace_.erase(previous);
        }
    }
    if (next != freeSpace_.end() && ib + size == next->first) {
        size += next->second;
        freeSpace_.erase(next);
    }
    freeSpace_.emplace(ib, size);
}

void NdbWriter::flushReused() {
    if (!reused_.empty() && writeError_.empty()) {
        std::string error;
        if (!writeAt(reusedBase_, reused_, error))
            writeError_ = error;
    }
    reused_.clear();
}

NdbWriter::Space NdbWriter::reserve(std::uint64_t size, std::uint64_t align) {
    if (!releasedByCommit_.empty())
        reclaimDurableSpace();
    if (const auto free = takeFreeSpace(size, align)) {
        setAllocated(*free, size, true);
        if (reused_.empty() || *free != reusedBase_ + reused_.size() ||
            reused_.size() + size > kReusedRunBytes) {
            flushReused();
            reusedBase_ = *free;
        }
        const std::size_t at = reused_.size();
        reused_.resize(at + size); // within the reserved capacity: earlier pointers stay valid
        return {*free, reused_.data() + at};
    }
    std::uint64_t ib = alignUp(eof_, align);
    for (;;) {
        const std::uint64_t n = intervalOf(ib);
        if (ib < mapPagesEnd(n))
            ib = alignUp(mapPagesEnd(n), align);
        if (ib + size > amapOffset(n + 1)) {
            ib = amapOffset(n + 1);
            continue;
        }
        ensureInterval(n);
        break;
    }
    // Gaps (alignment, skipped map pages) are zero; map pages are written at commit.
    std::memset(out_->extend(ib + size), 0, ib - eof_);
    setAllocated(ib, size, true);
    eof_ = ib + size;
    return {ib, out_->at(ib), true};
}

std::uint64_t NdbWriter::nextBid(bool internal) {
    const std::uint64_t bid = header_.bidNextB;
    header_.bidNextB += kBidIncrement;
    return internal ? bid | kBidInternalBit : bid;
}

std::uint64_t NdbWriter::storeBlock(std::uint64_t bid, std::span<const std::uint8_t> data,
                                    bool encode) {
    const std::size_t total = blockTotalSize(kFormat, data.size());
    const Space space = reserve(total, kBlockAlignment);
    std::uint8_t* block = space.at;
    std::copy(data.begin(), data.end(), block);
    std::memset(block + data.size(), 0, total - data.size());
    const CryptMethod method = encode ? header_.crypt : CryptMethod::None;
    if (space.appended)
        out_->seal({space.ib, bid, static_cast<std::uint32_t>(data.size()), method});
    else
        sealBlock(kFormat, method, std::span(block, total), data.size(), bid, space.ib);
    blocks_.push_back({bidKey(bid), space.ib, static_cast<std::uint16_t>(data.size()), 1});
    return bid;
}

std::uint64_t NdbWriter::writeExternalBlock(std::span<const std::uint8_t> data) {
    return storeBlock(nextBid(false), data.first(std::min(data.size(), kMaxData)), true);
}

std::uint64_t NdbWriter::writeInternalBlock(std::span<const std::uint8_t> data,
                                            const std::vector<std::uint64_t>& children) {
    std::uint64_t below = 0;
    for (std::uint64_t child : children)
        below += storedSize(child);
    const std::uint64_t bid = storeBlock(nextBid(true), data, false);
    treeBytes_[bidKey(bid)] = blockTotalSize(kFormat, data.size()) + below;
    return bid;
}

std::uint64_t NdbWriter::writeData(std::span<const std::uint8_t> data) {
    if (data.empty())
        return 0;
    if (data.size() <= kMaxData)
        return writeExternalBlock(data);
    std::vector<std::uint64_t> bids;
    for (std::size_t at = 0; at < data.size(); at += kMaxData)
        bids.push_back(writeExternalBlock(data.subspan(at, std::min(kMaxData, data.size() - at))));
    return writeDataTree(bids, data.size());
}

std::uint64_t NdbWriter::writeDataTree(const std::vector<std::uint64_t>& blocks,
                                       std::uint64_t total) {
    if (blocks.empty())
        return 0;
    if (blocks.size() == 1)
        return blocks[0];
    auto treeBlock = [&](std::uint8_t level, std::span<const std::uint64_t> bids,
                         std::uint64_t bytes) {
        std::vector<std::uint8_t> b(kDataTreeHeaderSize + 8 * bids.size());
        b[0] = kBlockTypeData;
        b[1] = level;
        storeLe16(&b[2], static_cast<std::uint16_t>(bids.size()));
        storeLe32(&b[4], static_cast<std::uint32_t>(bytes));
        for (std::size_t i = 0; i < bids.size(); ++i)
            storeLe64(&b[8 + 8 * i], bids[i]);
        return writeInternalBlock(b, std::vector<std::uint64_t>(bids.begin(), bids.end()));
    };
    if (blocks.size() <= kTreeFanout)
        return treeBlock(1, blocks, total);
    std::vector<std::uint64_t> xblocks;
    for (std::size_t at = 0; at < blocks.size(); at += kTreeFanout) {
        const std::size_t count = std::min(kTreeFanout, blocks.size() - at);
        std::uint64_t bytes = 0;
        for (std::size_t i = at; i < at + count; ++i)
            bytes += findBlock(blocks[i])->cb;
        xblocks.push_back(treeBlock(1, std::span(blocks).subspan(at, count), bytes));
    }
    return treeBlock(2, xblocks, total);
}

std::uint64_t NdbWriter::writeSubnodeTree(const std::vector<SubnodeEntry>& entries) {
    if (entries.empty())
        return 0;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> leaves; // first nid, SLBLOCK bid
    for (std::size_t at = 0; at < entries.size(); at += kSlFanout) {
        const std::size_t count = std::min(kSlFanout, entries.size() - at);
        std::vector<std::uint8_t> b(8 + 24 * count, 0);
        b[0] = kBlockTypeSubnode;
        b[1] = 0;
        storeLe16(&b[2], static_cast<std::uint16_t>(count));
        std::vector<std::uint64_t> children;
        for (std::size_t i = 0; i < count; ++i) {
            const SubnodeEntry& e = entries[at + i];
            storeLe64(&b[8 + 24 * i], e.nid);
            storeLe64(&b[16 + 24 * i], e.bidData);
            storeLe64(&b[24 + 24 * i], e.bidSub);
            children.push_back(e.bidData);
            if (e.bidSub)
                children.push_back(e.bidSub);
        }
        leaves.emplace_back(entries[at].nid, writeInternalBlock(b, children));
    }
    if (leaves.size() == 1)
        return leaves[0].second;
    std::vector<std::uint8_t> b(8 + 16 * std::min(leaves.size(), kSiFanout), 0);
    b[0] = kBlockTypeSubnode;
    b[1] = 1;
    storeLe16(&b[2], static_cast<std::uint16_t>(std::min(leaves.size(), kSiFanout)));
    std::vector<std::uint64_t> children;
    for (std::size_t i = 0; i < leaves.size() && i < kSiFanout; ++i) {
        storeLe64(&b[8 + 16 * i], leaves[i].first);
        storeLe64(&b[16 + 16 * i], leaves[i].second);
        children.push_back(leaves[i].second);
    }
    return writeInternalBlock(b, children);
}

NdbWriter::BlockInfo* NdbWriter::findBlock(std::uint64_t bid) {
    const std::uint64_t key = bidKey(bid);
    auto it = std::lower_bound(blocks_.begin(), blocks_.end(), key,
                               [](const BlockInfo& b, std::uint64_t k) { return b.bid < k; });
    if (it == blocks_.end() || it->bid != key || it->refs == 0)
        return nullptr;
    return &*it;
}

void NdbWriter::addReference(std::uint64_t bid) {
    if (BlockInfo* b = findBlock(bid); b && b->refs < 0xFFFE)
        ++b->refs;
}

std::vector<std::uint8_t> NdbWriter::readBlock(std::uint64_t bid) {
    BlockInfo* b = findBlock(bid);
    if (!b)
        return {};
    std::vector<std::uint8_t> data(b->cb);
    if (!reused_.empty() && b->ib >= reusedBase_ && b->ib + b->cb <= reusedBase_ + reused_.size()) {
        std::copy_n(reused_.begin() + static_cast<long>(b->ib - reusedBase_), b->cb, data.begin());
    } else if (!out_->copyOut(b->ib, data) && !readAt(b->ib, data)) {
        return {};
    }
    if (!bidIsInternal(bid))
        decodeBlock(header_.crypt, data, bid);
    return data;
}

std::vector<std::uint64_t> NdbWriter::childrenOf(std::uint64_t bid) {
    std::vector<std::uint64_t> out;
    if (!bidIsInternal(bid))
        return out;
    const std::vector<std::uint8_t> b = readBlock(bid);
    if (b.size() < 8)
        return out;
    const std::size_t cEnt = loadLe16(&b[2]);
    if (b[0] == kBlockTypeData) {
        for (std::size_t i = 0; i < cEnt && 8 + 8 * i + 8 <= b.size(); ++i)
            out.push_back(loadLe64(&b[8 + 8 * i]));
    } else if (b[0] == kBlockTypeSubnode && b[1] == 0) {
        for (std::size_t i = 0; i < cEnt && 8 + 24 * i + 24 <= b.size(); ++i) {
            out.push_back(loadLe64(&b[16 + 24 * i]));
            if (const std::uint64_t sub = loadLe64(&b[24 + 24 * i]))
                out.push_back(sub);
        }
    } else if (b[0] == kBlockTypeSubnode) {
        for (std::size_t i = 0; i < cEnt && 8 + 16 * i + 16 <= b.size(); ++i)
            out.push_back(loadLe64(&b[16 + 16 * i]));
    }
    return out;
}

void NdbWriter::release(std::uint64_t bid) {
    BlockInfo* b = findBlock(bid);
    if (!b || --b->refs > 0)
        return;
    const std::uint64_t ib = b->ib;
    const std::uint64_t size = blockTotalSize(kFormat, b->cb);
    ++b->refs; // still readable while its children are released
    const std::vector<std::uint64_t> children = childrenOf(bid);
    findBlock(bid)->refs = 0;
    ++freedBlocks_;
    pendingFree_.emplace_back(ib, size);
    for (std::uint64_t child : children)
        release(child);
}

std::uint64_t NdbWriter::storedSize(std::uint64_t bid) {
    BlockInfo* b = findBlock(bid);
    if (!b)
        return 0;
    if (!bidIsInternal(bid))
        return blockTotalSize(kFormat, b->cb);
    if (auto known = treeBytes_.find(bidKey(bid)); known != treeBytes_.end())
        return known->second;
    std::uint64_t total = blockTotalSize(kFormat, b->cb);
    for (std::uint64_t child : childrenOf(bid))
        total += storedSize(child);
    return total;
}

std::vector<std::uint8_t> NdbWriter::readData(std::uint64_t bid) {
    if (!bidIsInternal(bid))
        return readBlock(bid);
    std::vector<std::uint8_t> out;
    for (std::uint64_t child : childrenOf(bid)) {
        std::vector<std::uint8_t> part = readData(child);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::vector<SubnodeEntry> NdbWriter::readSubnodes(std::uint64_t bid) {
    std::vector<SubnodeEntry> out;
    const std::vector<std::uint8_t> b = readBlock(bid);
    if (b.size() < 8 || b[0] != kBlockTypeSubnode)
        return out;
    const std::size_t cEnt = loadLe16(&b[2]);
    if (b[1] == 0) {
        for (std::size_t i = 0; i < cEnt && 8 + 24 * i + 24 <= b.size(); ++i)
            out.push_back({static_cast<std::uint32_t>(loadLe64(&b[8 + 24 * i])),
                           loadLe64(&b[16 + 24 * i]), loadLe64(&b[24 + 24 * i])});
    } else {
        for (std::size_t i = 0; i < cEnt && 8 + 16 * i + 16 <= b.size(); ++i) {
            std::vector<SubnodeEntry> part = readSubnodes(loadLe64(&b[16 + 16 * i]));
            out.insert(out.end(), part.begin(), part.end());
        }
    }
    return out;
}

void NdbWriter::putNode(const NodeEntry& node) {
    // The header's counters must cover every index in use, whichever way the id was made.
    std::uint32_t& counter = header_.rgnid[nidType(node.nid)];
    counter = std::max(counter, nidIndex(node.nid));
    auto it = nodes_.find(node.nid);
    if (it != nodes_.end()) {
        const NodeEntry old = it->second;
        it->second = node;
        if (old.bidData)
            release(old.bidData);
        if (old.bidSub)
            release(old.bidSub);
        return;
    }
    nodes_.emplace(node.nid, node);
}

const NodeEntry* NdbWriter::findNode(std::uint32_t nid) const {
    auto it = nodes_.find(nid);
    return it == nodes_.end() ? nullptr : &it->second;
}

std::uint32_t NdbWriter::allocateNid(std::uint32_t type) {
    // rgnid holds the last index handed out. Indexes some other writer used without counting
    // them are skipped, since node ids must stay unique.
    std::uint32_t nid = 0;
    do {
        nid = makeNid(type, ++header_.rgnid[type & 0x1F]);
    } while (nodes_.count(nid) != 0);
    return nid;
}

void NdbWriter::compactBlocks() {
    if (freedBlocks_ == 0)
        return;
    std::erase_if(blocks_, [](const BlockInfo& b) { return b.refs == 0; });
    freedBlocks_ = 0;
}

Bref NdbWriter::writeBTree(bool nodeTree) {
    const std::size_t leafSize = nodeTree ? nbtEntrySize(kFormat) : bbtEntrySize(kFormat);
    const std::size_t info = btPageInfoOffset(kFormat);
    struct Child {
        std::uint64_t key;
        Bref bref;
    };
    auto writePage = [&](const std::vector<std::uint8_t>& entries, std::size_t count,
                         std::size_t entrySize, std::uint8_t level) {
        std::array<std::uint8_t, kPageSize> page{};
        std::copy(entries.begin(), entries.end(), page.begin());
        page[info] = static_cast<std::uint8_t>(count);
        page[info + 1] = static_cast<std::uint8_t>(btMaxEntries(kFormat, entrySize));
        page[info + 2] = static_cast<std::uint8_t>(entrySize);
        page[info + 3] = level;
        const Space space = reserve(kPageSize, kPageSize);
        const std::uint64_t bid = header_.bidNextP;
        header_.bidNextP += kBidIncrement;
        writePageTrailer(kFormat, page, nodeTree ? PageType::NBT : PageType::BBT, bid, space.ib);
        std::copy(page.begin(), page.end(), space.at);
        oldBTreePages_.emplace_back(space.ib, kPageSize);
        return Bref{bid, space.ib};
    };

    // Leaves.
    std::vector<Child> level;
    const std::size_t perLeaf = btMaxEntries(kFormat, leafSize);
    std::vector<std::uint8_t> entries;
    std::size_t count = 0;
    std::uint64_t firstKey = 0;
    auto closeLeaf = [&]() {
        if (count == 0 && !level.empty())
            return;
        level.push_back({firstKey, writePage(entries, count, leafSize, 0)});
        entries.clear();
        count = 0;
    };
    auto addEntry = [&](std::uint64_t key, const std::uint8_t* bytes) {
        if (count == perLeaf)
            closeLeaf();
        if (count == 0)
            firstKey = key;
        entries.insert(entries.end(), bytes, bytes + leafSize);
        ++count;
    };
    std::array<std::uint8_t, 32> e{};
    if (nodeTree) {
        for (const auto& [nid, n] : nodes_) {
            e.fill(0);
            storeLe64(&e[0], n.nid);
            storeLe64(&e[8], n.bidData);
            storeLe64(&e[16], n.bidSub);
            storeLe32(&e[24], n.nidParent);
            addEntry(n.nid, e.data());
        }
    } else {
        for (const BlockInfo& b : blocks_) {
            if (b.refs == 0)
                continue;
            e.fill(0);
            storeLe64(&e[0], b.bid);
            storeLe64(&e[8], b.ib);
            storeLe16(&e[16], b.cb);
            storeLe16(&e[18],
                      static_cast<std::uint16_t>(std::min<std::uint32_t>(b.refs + 1, 0xFFFF)));
            addEntry(b.bid, e.data());
        }
    }
    closeLeaf();

    // Intermediate levels until one page holds everything.
    const std::size_t perIndex = btMaxEntries(kFormat, btEntrySize(kFormat));
    std::uint8_t depth = 0;
    while (level.size() > 1) {
        ++depth;
        std::vector<Child> upper;
        for (std::size_t at = 0; at < level.size(); at += perIndex) {
            const std::size_t n = std::min(perIndex, level.size() - at);
            std::vector<std::uint8_t> bytes(n * btEntrySize(kFormat), 0);
            for (std::size_t i = 0; i < n; ++i) {
                storeLe64(&bytes[24 * i], level[at + i].key);
                storeLe64(&bytes[24 * i + 8], level[at + i].bref.bid);
                storeLe64(&bytes[24 * i + 16], level[at + i].bref.ib);
            }
            upper.push_back({level[at].key, writePage(bytes, n, btEntrySize(kFormat), depth)});
        }
        level = std::move(upper);
    }
    return level.front().bref;
}

bool NdbWriter::noBackgroundFailure(std::string& error, bool wait) {
    // A failed append, then a failed commit (the appender hands commits on, so it goes first).
    if (backgroundError_.empty()) {
        if (wait)
            out_->wait(backgroundError_);
        else
            out_->healthy(backgroundError_);
    }
    for (platform::BackgroundWorker::Failure& failure : committer_->takeFailures(wait))
        if (backgroundError_.empty())
            backgroundError_ = std::move(failure.reason);
    if (backgroundError_.empty())
        return true;
    error = backgroundError_;
    return false;
}

void NdbWriter::reclaimDurableSpace() {
    const std::uint64_t durable = durableSequence_.load(std::memory_order_acquire);
    bool reclaimed = false;
    while (!releasedByCommit_.empty() && releasedByCommit_.front().first <= durable) {
        for (const auto& [ib, size] : releasedByCommit_.front().second)
            addFreeSpace(ib, size);
        releasedByCommit_.pop_front();
        reclaimed = true;
    }
    if (reclaimed)
        freeCursor_ = 0;
}

bool NdbWriter::commit(std::string& error, bool wait) {
    if (!noBackgroundFailure(error))
        return false;
    reclaimDurableSpace();
    // Space the committed state uses (replaced blocks, the previous B-tree pages) becomes free in
    // the new state; it is never written again before this commit is durable.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> freeing = std::move(pendingFree_);
    pendingFree_.clear();
    freeing.insert(freeing.end(), oldBTreePages_.begin(), oldBTreePages_.end());
    oldBTreePages_.clear();
    compactBlocks();

    treeBytes_.clear(); // only the message being written asks for sizes of fresh trees
    const Bref bbt = writeBTree(false);
    const Bref nbt = writeBTree(true);
    for (const auto& [ib, size] : freeing)
        setAllocated(ib, size, false);

    auto steps = std::make_shared<CommitSteps>();
    const bool firstCommit = header_.ibFileEof == 0;
    // 1. The data and the new B-trees, all in space the committed state does not use.
    if (firstCommit) {
        // Nothing is committed yet: the header area is part of the appended bytes.
        header_.fAMapValid = kAMapInvalid;
        pst::writeHeader(header_, headerBytes_);
        if (out_->staged(0))
            std::copy_n(headerBytes_.begin(), kUnicodeHeader.size, out_->at(0));
        else if (!out_->wait(error) ||
                 !writeAt(0, std::span(headerBytes_).first(kUnicodeHeader.size), error))
            return false;
    }
    out_->flush();
    flushReused();
    if (!writeError_.empty()) {
        error = writeError_;
        return false;
    }
    // 2. Maps flagged invalid before they change.
    header_.fAMapValid = kAMapInvalid;
    // The header as it stands now, as the committer writes it.
    const auto headerNow = [this] {
        pst::writeHeader(header_, headerBytes_);
        return std::vector<std::uint8_t>(headerBytes_.begin(),
                                         headerBytes_.begin() + kUnicodeHeader.size);
    };
    if (!firstCommit)
        steps->invalidHeader = headerNow();
    // 3. The map pages of every interval that changed, and the free maps that describe them.
    for (std::uint64_t n = kFMapFirstAMap; n < amaps_.size(); ++n)
        if (amapDirty_[n])
            amapDirty_[fmapHolder(n)] = true;
    for (std::uint64_t n = 0; n < amaps_.size(); ++n) {
        if (!amapDirty_[n])
            continue;
        buildMapPages(n, *steps);
        amapDirty_[n] = false;
    }
    const std::uint64_t fileEof = amapOffset(amaps_.size());
    // 4. The commit point: the header naming the new B-trees, maps valid.
    header_.nbt = nbt;
    header_.bbt = bbt;
    header_.ibFileEof = fileEof;
    header_.ibAMapLast = amapOffset(amaps_.size() - 1);
    header_.cbAMapFree = amapFree_;
    header_.cbPMapFree = 0;
    header_.fAMapValid = kAMapValid2;
    ++header_.dwUnique;
    steps->validHeader = headerNow();
    steps->sequence = ++commitSequence_;
    // What this commit releases is free in the state it commits: later writes may go there once
    // that state is durable. (Appending resumes where it stopped: the rest of the last interval
    // was free all along.)
    releasedByCommit_.emplace_back(steps->sequence, std::move(freeing));

    // Once the data is written: the file reaches the end the header names, and the committer
    // takes the remaining steps (in order with earlier commits).
    out_->afterWritten([this, fileEof, steps]() -> std::string {
        if (::ftruncate(fd_, static_cast<off_t>(fileEof)) != 0)
            return errnoText("cannot extend the PST file");
        committer_->submit({}, [this, steps] { return runCommitSteps(*steps); });
        return {};
    });
    if (!wait)
        return true;
    if (!noBackgroundFailure(error, true))
        return false;
    reclaimDurableSpace();
    return true;
}

std::string NdbWriter::runCommitSteps(const CommitSteps& steps) {
    if (commitFailed_.load())
        return {}; // an earlier commit failed and said so: the file keeps the state before it
    std::string error;
    const auto sync = [&] {
        if (::fdatasync(fd_) == 0)
            return true;
        error = errnoText("cannot flush the PST file");
        return false;
    };
    // The data first, on its own: the maps are then flagged invalid for only as long as the few
    // pages that follow take to reach the disk.
    bool done = sync();
    if (done && !steps.invalidHeader.empty())
        done = writeAt(0, steps.invalidHeader, error) && sync();
    for (std::size_t i = 0; done && i < steps.mapPages.size(); ++i)
        done = writeAt(steps.mapPages[i].first, steps.mapPages[i].second, error);
    done = done && sync() && writeAt(0, steps.validHeader, error) && sync();
    if (!done) {
        commitFailed_.store(true);
        return error;
    }
    durableSequence_.store(steps.sequence, std::memory_order_release);
    return {};
}

void NdbWriter::buildMapPages(std::uint64_t n, CommitSteps& steps) {
    const MapPages pages = mapPagesOfInterval(n);
    for (std::size_t i = 0; i < pages.count; ++i) {
        const auto [type, ib] = pages.pages[i];
        buildMapPage(n, type, ib,
                     steps.mapPages.emplace_back(ib, std::array<std::uint8_t, kPageSize>{}).second);
    }
}

void NdbWriter::buildMapPage(std::uint64_t n, PageType type, std::uint64_t ib,
                             std::span<std::uint8_t, kPageSize> page) {
    std::fill(page.begin(), page.end(), 0);
    std::uint8_t* bits = page.data() + mapBitmapOffset(kFormat);
    switch (type) {
    case PageType::AMap:
        std::copy(amaps_[n].begin(), amaps_[n].end(), bits);
        break;
    case PageType::PMap:
    case PageType::FPMap:
        // Deprecated page maps: every page taken, and so no PMap with a free page.
        std::fill_n(bits, kMapBitmapBytes, 0xFF);
        break;
    case PageType::FMap:
        // Deprecated, but kept true: per AMap, the longest run of free 64-byte slots.
        for (std::uint64_t k = 0; k < kMapBitmapBytes && n + k < amaps_.size(); ++k)
            bits[k] = longestFreeRun(amaps_[n + k]);
        break;
    default:
        break;
    }
    writePageTrailer(kFormat, page, type, ib, ib);
}

void NdbWriter::fillFinishedMapPages(std::uint64_t base, std::span<std::uint8_t> bytes) {
    // An interval that ends inside the bytes handed over takes no more appended blocks, and its
    // map pages are still in those bytes: they go to the file with them, written as the maps
    // stand, instead of at the next commit, where they would be thousands of small writes
    // scattered over the file, each making a page the write-behind had already sent to the disk
    // dirty again for the commit's flush to wait on. Only intervals past the end of the
    // committed state qualify, so the state on disk never sees them early. An interval that
    // changes again before the commit (space freed or reused) is marked changed and rewritten
    // then as before; the free map, which describes later intervals too, always waits for the
    // commit.
    const std::uint64_t end = base + bytes.size();
    for (std::uint64_t n = base <= kFirstAMapOffset ? 0 : intervalOf(base - 1) + 1;
         n < amaps_.size() && amapOffset(n + 1) <= end; ++n) {
        if (!amapDirty_[n] || amapOffset(n) < header_.ibFileEof)
            continue;
        const MapPages pages = mapPagesOfInterval(n);
        bool complete = true;
        for (std::size_t i = 0; i < pages.count; ++i) {
            const auto [type, ib] = pages.pages[i];
            if (type == PageType::FMap) {
                complete = false;
                continue;
            }
            buildMapPage(n, type, ib,
                         std::span<std::uint8_t, kPageSize>(bytes.data() + (ib - base), kPageSize));
        }
        amapDirty_[n] = !complete;
        if (n >= kFMapFirstAMap)
            amapDirty_[fmapHolder(n)] = true;
    }
}

void NdbWriter::startAppending(std::uint64_t start) {
    out_ = std::make_unique<StagedAppender>(fd_, start);
    out_->beforeHandOver([this](std::uint64_t base, std::span<std::uint8_t> bytes) {
        fillFinishedMapPages(base, bytes);
    });
}

} // namespace parvelle::pst
