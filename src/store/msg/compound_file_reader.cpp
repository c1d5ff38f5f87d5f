#include "store/msg/compound_file_reader.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace parvelle::msg::cfb {

namespace {

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t get64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}
std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}
std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

} // namespace

std::string DirectoryEntry::utf8Name() const {
    return text::utf16ToUtf8(name);
}

std::span<const std::uint8_t> CompoundFile::sector(std::uint32_t index) const {
    const auto bytes = file_->bytes();
    const std::uint64_t offset = static_cast<std::uint64_t>(index + 1) * sectorSize_;
    if (index >= sectorCount_ || offset >= bytes.size())
        return {};
    const std::uint64_t n = std::min<std::uint64_t>(sectorSize_, bytes.size() - offset);
    return bytes.subspan(offset, n);
}

Result<std::vector<std::uint32_t>> CompoundFile::chainOf(const std::vector<std::uint32_t>& table,
                                                         std::uint32_t start,
                                                         std::uint64_t limit) const {
    std::vector<std::uint32_t> out;
    std::uint32_t s = start;
    while (s != kEndOfChain) {
        if (s >= table.size())
            return Result<std::vector<std::uint32_t>>::failure("sector chain leaves its table at " +
                                                               hex(s));
        if (out.size() >= limit)
            return Result<std::vector<std::uint32_t>>::failure("sector chain too long or looping");
        out.push_back(s);
        s = table[s];
    }
    return out;
}

Result<CompoundFile> CompoundFile::open(const std::string& path) {
    CompoundFile cf;
    cf.file_ = std::make_shared<platform::MappedFile>();
    if (!cf.file_->open(path))
        return Result<CompoundFile>::failure(cf.file_->error());
    const auto bytes = cf.file_->bytes();
    if (bytes.size() < kHeaderSize)
        return Result<CompoundFile>::failure("file too short for a compound file header");
    const std::uint8_t* h = bytes.data();
    if (std::memcmp(h, kSignature.data(), kSignature.size()) != 0)
        return Result<CompoundFile>::failure("not a compound file (bad signature)");
    if (get16(h + 28) != kByteOrderMark)
        return Result<CompoundFile>::failure("bad byte order mark");
    cf.majorVersion_ = get16(h + 26);
    const std::uint16_t shift = get16(h + 30);
    if (!((cf.majorVersion_ == 3 && shift == 9) || (cf.majorVersion_ == 4 && shift == 12)))
        return Result<CompoundFile>::failure("unsupported compound file version or sector size");
    if (get16(h + 32) != kMiniSectorShift)
        return Result<CompoundFile>::failure("unsupported mini sector size");
    cf.sectorSize_ = 1u << shift;
    if (bytes.size() < cf.sectorSize_)
        return Result<CompoundFile>::failure("file too short for its header sector");
    cf.sectorCount_ = ceilDiv(bytes.size() - cf.sectorSize_, cf.sectorSize_);
    cf.miniStreamCutoff_ = get32(h + 56);

    const std::uint32_t fatCount = get32(h + 44);
    const std::uint32_t dirStart = get32(h + 48);
    const std::uint32_t miniFatStart = get32(h + 60);
    const std::uint32_t miniFatCount = get32(h + 64);
    const std::uint32_t difatStart = get32(h + 68);
    const std::uint32_t difatCount = get32(h + 72);
    if (fatCount > cf.sectorCount_ || difatCount > cf.sectorCount_ ||
        miniFatCount > cf.sectorCount_)
        return Result<CompoundFile>::failure("header counts exceed the file size");

    // FAT sector list: 109 in the header, the rest in the DIFAT chain.
    std::vector<std::uint32_t> fatList;
    for (std::uint32_t i = 0; i < kHeaderDifatEntries && fatList.size() < fatCount; ++i)
        fatList.push_back(get32(h + 76 + 4 * i));
    std::uint32_t d = difatStart;
    const std::uint32_t perDifat = cf.sectorSize_ / 4 - 1;
    for (std::uint32_t n = 0; n < difatCount && fatList.size() < fatCount; ++n) {
        auto sec = cf.sector(d);
        if (sec.size() < cf.sectorSize_)
            return Result<CompoundFile>::failure("DIFAT sector outside the file");
        cf.difatSectors_.push_back(d);
        for (std::uint32_t i = 0; i < perDifat && fatList.size() < fatCount; ++i)
            fatList.push_back(get32(sec.data() + 4 * i));
        d = get32(sec.data() + 4 * perDifat);
    }
    if (fatList.size() < fatCount)
        return Result<CompoundFile>::failure("DIFAT lists fewer FAT sectors than the header");
    for (std::uint32_t f : fatList) {
        auto sec = cf.sector(f);
        if (sec.size() < cf.sectorSize_)
            return Result<CompoundFile>::failure("FAT sector outside the file");
        for (std::uint32_t i = 0; i < cf.sectorSize_ / 4; ++i)
            cf.fat_.push_back(get32(sec.data() + 4 * i));
    }
    cf.fatSectors_ = std::move(fatList);

    auto dirChain = cf.chainOf(cf.fat_, dirStart, cf.sectorCount_);
    if (!dirChain)
        return Result<CompoundFile>::failure("directory: " + dirChain.error());
    if (dirChain->empty())
        return Result<CompoundFile>::failure("the directory is empty");
    cf.directoryChain_ = std::move(*dirChain);
    for (std::uint32_t s : cf.directoryChain_) {
        auto sec = cf.sector(s);
        for (std::uint32_t off = 0; off + kDirectoryEntrySize <= sec.size();
             off += kDirectoryEntrySize) {
            const std::uint8_t* p = sec.data() + off;
            DirectoryEntry e;
            const std::uint16_t nameBytes = get16(p + 64);
            const std::size_t units = std::min<std::size_t>(nameBytes / 2, 32);
            for (std::size_t i = 0; i + 1 < units; ++i)
                e.name.push_back(static_cast<char16_t>(get16(p + 2 * i)));
            e.type = static_cast<EntryType>(p[66]);
            e.color = p[67] == 0 ? Color::Red : Color::Black;
            e.left = get32(p + 68);
            e.right = get32(p + 72);
            e.child = get32(p + 76);
            std::memcpy(e.clsid.data(), p + 80, 16);
            e.creationTime = get64(p + 100);
            e.modifiedTime = get64(p + 108);
            e.startSector = get32(p + 116);
            e.size = get64(p + 120);
            if (cf.majorVersion_ == 3)
                e.size &= 0xFFFFFFFFULL; // version 3 readers ignore the high half
            cf.entries_.push_back(std::move(e));
        }
    }
    if (cf.entries_.empty() || cf.entries_[0].type != EntryType::Root)
        return Result<CompoundFile>::failure("the first directory entry is not the root");

    if (miniFatCount > 0) {
        auto miniFatChain = cf.chainOf(cf.fat_, miniFatStart, cf.sectorCount_);
        if (!miniFatChain)
            return Result<CompoundFile>::failure("mini FAT: " + miniFatChain.error());
        cf.miniFatChain_ = std::move(*miniFatChain);
        for (std::uint32_t s : cf.miniFatChain_) {
            auto sec = cf.sector(s);
            for (std::uint32_t i = 0; i + 4 <= sec.size(); i += 4)
                cf.miniFat_.push_back(get32(sec.data() + i));
        }
    }
    if (cf.root().size > 0) {
        auto miniChain = cf.chainOf(cf.fat_, cf.root().startSector, cf.sectorCount_);
        if (!miniChain)
            return Result<CompoundFile>::failure("mini stream: " + miniChain.error());
        cf.miniStreamChain_ = std::move(*miniChain);
    }
    return cf;
}

std::vector<std::uint32_t> CompoundFile::children(std::uint32_t storage) const {
    std::vector<std::uint32_t> out;
    if (storage >= entries_.size() || !entries_[storage].isStorage())
        return out;
    // Iterative in-order walk; `seen` guards against cycles in damaged files.
    std::vector<bool> seen(entries_.size(), false);
    std::vector<std::uint32_t> stack;
    std::uint32_t cur = entries_[storage].child;
    while (cur != kNoStream || !stack.empty()) {
        while (cur != kNoStream && cur < entries_.size() && !seen[cur]) {
            seen[cur] = true;
            stack.push_back(cur);
            cur = entries_[cur].left;
        }
        if (stack.empty())
            break;
        cur = stack.back();
        stack.pop_back();
        out.push_back(cur);
        cur = entries_[cur].right;
    }
    return out;
}

std::optional<std::uint32_t> CompoundFile::find(std::uint32_t storage,
                                                std::string_view utf8Name) const {
    const std::u16string name = text::utf8ToUtf16(utf8Name);
    for (std::uint32_t c : children(storage))
        if (compareEntryNames(entries_[c].name, name) == 0)
            return c;
    return std::nullopt;
}

std::optional<std::uint32_t> CompoundFile::findPath(std::string_view path) const {
    std::uint32_t cur = 0;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        auto next = find(cur, path.substr(0, slash));
        if (!next)
            return std::nullopt;
        cur = *next;
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return cur;
}

Status CompoundFile::readStreamChunks(
    std::uint32_t entry, const std::function<void(std::span<const std::uint8_t>)>& sink) const {
    if (entry >= entries_.size() || entries_[entry].type != EntryType::Stream)
        return Status::failure("not a stream");
    const DirectoryEntry& e = entries_[entry];
    std::uint64_t left = e.size;
    if (left == 0)
        return Status::success();
    if (e.size < miniStreamCutoff_) {
        auto chain = chainOf(miniFat_, e.startSector, miniFat_.size());
        if (!chain)
            return Status::failure("mini stream chain of \"" + e.utf8Name() +
                                   "\": " + chain.error());
        if (chain->size() * kMiniSectorSize < e.size)
            return Status::failure("mini stream chain shorter than the stream");
        for (std::uint32_t m : *chain) {
            const std::uint64_t offset = static_cast<std::uint64_t>(m) * kMiniSectorSize;
            const std::uint64_t index = offset / sectorSize_;
            if (index >= miniStreamChain_.size())
                return Status::failure("mini sector outside the mini stream");
            auto sec = sector(miniStreamChain_[index]);
            const std::uint64_t within = offset % sectorSize_;
            const std::uint64_t n = std::min<std::uint64_t>(left, kMiniSectorSize);
            if (sec.size() < within + n)
                return Status::failure("mini stream sector outside the file");
            sink(sec.subspan(within, n));
            left -= n;
            if (left == 0)
                break;
        }
        return Status::success();
    }
    auto chain = chainOf(fat_, e.startSector, sectorCount_);
    if (!chain)
        return Status::failure("sector chain of \"" + e.utf8Name() + "\": " + chain.error());
    if (chain->size() * static_cast<std::uint64_t>(sectorSize_) < e.size)
        return Status::failure("sector chain shorter than the stream");
    for (std::uint32_t s : *chain) {
        auto sec = sector(s);
        const std::uint64_t n = std::min<std::uint64_t>(left, sectorSize_);
        if (sec.size() < n)
            return Status::failure("stream sector outside the file");
        sink(sec.first(n));
        left -= n;
        if (left == 0)
            break;
    }
    return Status::success();
}

Status CompoundFile::readStreamAt(std::uint32_t entry, std::uint64_t offset,
                                  std::span<std::uint8_t> out) const {
    if (entry >= entries_.size() || entries_[entry].type != EntryType::Stream)
        return Status::failure("not a stream");
    const DirectoryEntry& e = entries_[entry];
    if (offset > e.size || out.size() > e.size - offset)
        return Status::failure("read past the end of the stream");
    if (out.empty())
        return Status::success();
    const bool mini = e.size < miniStreamCutoff_;
    const std::uint64_t unit = mini ? kMiniSectorSize : sectorSize_;
    auto chain = mini ? chainOf(miniFat_, e.startSector, miniFat_.size())
                      : chainOf(fat_, e.startSector, sectorCount_);
    if (!chain)
        return Status::failure(chain.error());
    std::size_t filled = 0;
    for (std::uint64_t index = offset / unit; filled < out.size(); ++index) {
        if (index >= chain->size())
            return Status::failure("sector chain shorter than the stream");
        std::span<const std::uint8_t> data;
        if (mini) {
            const std::uint64_t at = static_cast<std::uint64_t>((*chain)[index]) * kMiniSectorSize;
            if (at / sectorSize_ >= miniStreamChain_.size())
                return Status::failure("mini sector outside the mini stream");
            auto sec = sector(miniStreamChain_[at / sectorSize_]);
            const std::uint64_t within = at % sectorSize_;
            if (sec.size() < within + kMiniSectorSize)
                return Status::failure("mini stream sector outside the file");
            data = sec.subspan(within, kMiniSectorSize);
        } else {
            data = sector((*chain)[index]);
        }
        const std::uint64_t skip = index == offset / unit ? offset % unit : 0;
        if (data.size() <= skip)
            return Status::failure("stream sector outside the file");
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(data.size() - skip, out.size() - filled));
        std::memcpy(out.data() + filled, data.data() + skip, n);
        filled += n;
    }
    return Status::success();
}

Result<std::vector<std::uint8_t>> CompoundFile::readStream(std::uint32_t entry,
                                                           std::uint64_t limit) const {
    if (entry < entries_.size() && entries_[entry].size > limit)
        return Result<std::vector<std::uint8_t>>::failure("stream too large to read whole");
    std::vector<std::uint8_t> out;
    Status s = readStreamChunks(entry, [&](std::span<const std::uint8_t> piece) {
        out.insert(out.end(), piece.begin(), piece.end());
    });
    if (!s)
        return Result<std::vector<std::uint8_t>>::failure(s.error());
    return out;
}

std::vector<std::string> CompoundFile::check() const {
    std::vector<std::string> problems;
    auto report = [&](std::string p) { problems.push_back(std::move(p)); };
    const std::uint8_t* h = file_->bytes().data();
    if (get16(h + 24) != kMinorVersion)
        report("minor version is not 0x003E");
    if (majorVersion_ == 3 && get32(h + 40) != 0)
        report("version 3 header counts directory sectors");
    if (majorVersion_ == 4 && get32(h + 40) != directoryChain_.size())
        report("header directory sector count disagrees with the directory chain");
    if (miniStreamCutoff_ != kMiniStreamCutoff)
        report("mini stream cutoff is not 4096");
    if (majorVersion_ == 3 && file_->size() > kVersion3MaxFileSize)
        report("version 3 file larger than 2 GB");
    if ((file_->size() - sectorSize_) % sectorSize_ != 0)
        report("file does not end on a sector boundary");
    for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
        const std::uint32_t v = get32(h + 76 + 4 * i);
        if (i >= fatSectors_.size() && v != kFreeSector)
            report("unused header DIFAT entry is not FREESECT");
    }

    // Sector ownership: every sector belongs to exactly one structure or is free.
    std::vector<int> owner(sectorCount_, 0);
    auto claim = [&](std::uint32_t s, const std::string& what) {
        if (s >= sectorCount_) {
            report(what + " uses sector " + hex(s) + " past the end of the file");
            return;
        }
        if (owner[s]++ > 0)
            report(what + " uses sector " + hex(s) + " that is already in use");
    };
    for (std::uint32_t s : fatSectors_) {
        claim(s, "FAT");
        if (s < fat_.size() && fat_[s] != kFatSector)
            report("FAT sector " + hex(s) + " is not marked FATSECT");
    }
    for (std::uint32_t s : difatSectors_) {
        claim(s, "DIFAT");
        if (s < fat_.size() && fat_[s] != kDifatSector)
            report("DIFAT sector " + hex(s) + " is not marked DIFSECT");
    }
    for (std::uint32_t s : directoryChain_)
        claim(s, "directory");
    for (std::uint32_t s : miniFatChain_)
        claim(s, "mini FAT");
    if (miniFatChain_.size() != get32(h + 64))
        report("mini FAT sector count disagrees with its chain");
    for (std::uint32_t s : miniStreamChain_)
        claim(s, "mini stream");
    if (miniStreamChain_.size() != ceilDiv(root().size, sectorSize_))
        report("mini stream chain length disagrees with the root entry size");
    if (root().creationTime != 0)
        report("root entry has a creation time");

    std::vector<int> miniOwner(miniFat_.size(), 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const DirectoryEntry& e = entries_[i];
        const std::string name = "stream \"" + e.utf8Name() + "\"";
        if (e.type == EntryType::Unused) {
            if (e.left != kNoStream || e.right != kNoStream || e.child != kNoStream)
                report("unused directory entry " + std::to_string(i) + " has links");
            continue;
        }
        if (e.type != EntryType::Stream) {
            if (e.type != EntryType::Storage && e.type != EntryType::Root)
                report("directory entry " + std::to_string(i) + " has an unknown type");
            continue;
        }
        if (!checkEntryName(e.name).empty())
            report(name + ": " + checkEntryName(e.name));
        if (e.child != kNoStream)
            report(name + " has a child");
        if (e.creationTime != 0 || e.modifiedTime != 0)
            report(name + " has time stamps");
        if (e.size == 0) {
            if (e.startSector != kEndOfChain && e.startSector != 0)
                report(name + " is empty but has a start sector");
            continue;
        }
        if (e.size < miniStreamCutoff_) {
            auto chain = chainOf(miniFat_, e.startSector, miniFat_.size());
            if (!chain) {
                report(name + ": " + chain.error());
                continue;
            }
            if (chain->size() != ceilDiv(e.size, kMiniSectorSize))
                report(name + " mini chain length disagrees with its size");
            for (std::uint32_t m : *chain) {
                if (miniOwner[m]++ > 0)
                    report(name + " shares a mini sector");
                if ((static_cast<std::uint64_t>(m) + 1) * kMiniSectorSize > root().size)
                    report(name + " uses a mini sector past the mini stream");
            }
        } else {
            auto chain = chainOf(fat_, e.startSector, sectorCount_);
            if (!chain) {
                report(name + ": " + chain.error());
                continue;
            }
            if (chain->size() != ceilDiv(e.size, sectorSize_))
                report(name + " chain length disagrees with its size");
            for (std::uint32_t s : *chain)
                claim(s, name);
        }
    }
    for (std::uint64_t s = 0; s < fat_.size(); ++s) {
        const bool used = s < sectorCount_ && owner[s] > 0;
        if (!used && fat_[s] != kFreeSector)
            report("sector " + hex(static_cast<std::uint32_t>(s)) +
                   " is allocated in the FAT but belongs to nothing");
        if (used && fat_[s] == kFreeSector)
            report("sector " + hex(static_cast<std::uint32_t>(s)) + " is in use but marked free");
    }
    if (fat_.size() < sectorCount_)
        report("the FAT does not cover every sector");
    for (std::size_t m = 0; m < miniFat_.size(); ++m) {
        if (miniOwner[m] == 0 && miniFat_[m] != kFreeSector)
            report("mini sector " + std::to_string(m) + " is allocated but belongs to nothing");
        if (miniOwner[m] > 0 && miniFat_[m] == kFreeSector)
            report("mini sector " + std::to_string(m) + " is in use but marked free");
    }

    // Directory trees: each storage's siblings form a red-black tree in name order, and every
    // entry is reached exactly once.
    std::vector<int> reached(entries_.size(), 0);
    reached[0] = 1;
    std::vector<std::uint32_t> storages{0};
    while (!storages.empty()) {
        const std::uint32_t st = storages.back();
        storages.pop_back();
        const std::uint32_t top = entries_[st].child;
        if (top == kNoStream)
            continue;
        if (top < entries_.size() && entries_[top].color != Color::Black)
            report("the sibling tree of \"" + entries_[st].utf8Name() + "\" has a red root");
        // Walk: (node, black count so far, parent red).
        int blackHeight = -1;
        struct Item {
            std::uint32_t node;
            int blacks;
            bool parentRed;
        };
        std::vector<Item> work{{top, 0, false}};
        while (!work.empty()) {
            Item it = work.back();
            work.pop_back();
            if (it.node == kNoStream) {
                if (blackHeight < 0)
                    blackHeight = it.blacks;
                else if (blackHeight != it.blacks)
                    report("the sibling tree of \"" + entries_[st].utf8Name() +
                           "\" has unequal black heights");
                continue;
            }
            if (it.node >= entries_.size() || entries_[it.node].type == EntryType::Unused ||
                it.node == 0) {
                report("a sibling link points to an invalid entry " + hex(it.node));
                continue;
            }
            if (reached[it.node]++ > 0) {
                report("directory entry " + std::to_string(it.node) + " is linked twice");
                continue;
            }
            const DirectoryEntry& e = entries_[it.node];
            const bool red = e.color == Color::Red;
            if (red && it.parentRed)
                report("red entry \"" + e.utf8Name() + "\" has a red parent");
            const int blacks = it.blacks + (red ? 0 : 1);
            work.push_back({e.left, blacks, red});
            work.push_back({e.right, blacks, red});
            if (e.isStorage())
                storages.push_back(it.node);
        }
        const auto kids = children(st);
        for (std::size_t i = 1; i < kids.size(); ++i)
            if (compareEntryNames(entries_[kids[i - 1]].name, entries_[kids[i]].name) >= 0)
                report("siblings \"" + entries_[kids[i - 1]].utf8Name() + "\" and \"" +
                       entries_[kids[i]].utf8Name() + "\" are out of order");
    }
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].type != EntryType::Unused && reached[i] == 0)
            report("directory entry \"" + entries_[i].utf8Name() + "\" is not reachable");
    return problems;
}

} // namespace parvelle::msg::cfb
