#include "mailbox/archive_reader.h"

#include <algorithm>

namespace parvelle::mailbox {

namespace {

// Inflates the item's member from its compressed bytes into `cache`.
bool inflateMember(std::span<const std::uint8_t> packed, const ItemSource& item,
                   InflatedMember& cache) {
    cache.offset = -1;
    std::string inflated;
    if (!inflateRaw(packed, item.memberSize, inflated))
        return false;
    cache.bytes = std::move(inflated);
    cache.offset = item.offset;
    return true;
}

// The item's part of its member inflated in `cache`.
std::optional<std::string_view> itemInMember(const ItemSource& item, const InflatedMember& cache) {
    if (item.innerOffset < 0 || item.innerOffset > static_cast<std::int64_t>(cache.bytes.size()) ||
        item.size > static_cast<std::int64_t>(cache.bytes.size()) - item.innerOffset)
        return std::nullopt;
    return std::string_view(cache.bytes)
        .substr(static_cast<std::size_t>(item.innerOffset), static_cast<std::size_t>(item.size));
}

} // namespace

bool locatedInside(const ItemSource& item, std::int64_t total) {
    if (item.offset < 0 || item.size < 0 || item.offset > total)
        return false;
    if (item.method == 0)
        return item.size <= total - item.offset;
    return item.method == 8 && item.packedSize >= 0 && item.packedSize <= total - item.offset;
}

std::optional<std::string_view> viewItemBytes(ZipByteSource& archive, const ItemSource& item,
                                              InflatedMember& cache) {
    if (!locatedInside(item, static_cast<std::int64_t>(archive.size())))
        return std::nullopt;
    if (item.method == 0) {
        const auto n = static_cast<std::size_t>(item.size);
        const std::uint8_t* data = archive.view(static_cast<std::uint64_t>(item.offset), n);
        if (data == nullptr)
            return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(data), n);
    }
    if (cache.offset != item.offset) {
        const auto n = static_cast<std::size_t>(item.packedSize);
        const std::uint8_t* packed = archive.view(static_cast<std::uint64_t>(item.offset), n);
        if (packed == nullptr) {
            cache.offset = -1;
            return std::nullopt;
        }
        if (!inflateMember({packed, n}, item, cache))
            return std::nullopt;
    }
    return itemInMember(item, cache);
}

bool ArchiveReader::open(const std::string& path) {
    cache_ = {};
    if (!file_.open(path))
        return false;
    reader_ = platform::ReadOnlyFile::open(path);
    return true;
}

std::optional<std::string> ArchiveReader::read(const ItemSource& item) {
    if (!reader_) {
        SpanByteSource mapped(file_.bytes());
        if (const auto bytes = viewItemBytes(mapped, item, cache_))
            return std::string(*bytes);
        return std::nullopt;
    }
    // The same checks and results as through the mapping, with the bytes read from the file.
    if (!locatedInside(item, static_cast<std::int64_t>(file_.size())))
        return std::nullopt;
    auto readInto = [&](std::string& out, std::int64_t n) {
        out.resize(static_cast<std::size_t>(n));
        return reader_->readAt(static_cast<std::uint64_t>(item.offset),
                               {reinterpret_cast<std::uint8_t*>(out.data()), out.size()});
    };
    if (item.method == 0) {
        std::string bytes;
        if (!readInto(bytes, item.size))
            return std::nullopt;
        return bytes;
    }
    if (cache_.offset != item.offset) {
        if (!readInto(packed_, item.packedSize)) {
            cache_.offset = -1;
            return std::nullopt;
        }
        if (!inflateMember({reinterpret_cast<const std::uint8_t*>(packed_.data()), packed_.size()},
                           item, cache_))
            return std::nullopt;
    }
    if (const auto bytes = itemInMember(item, cache_))
        return std::string(*bytes);
    return std::nullopt;
}

ArchiveWindow::ArchiveWindow(std::span<const std::uint8_t> mapped, std::size_t window)
    : mapped_(mapped), window_(std::max<std::size_t>(window, 1)) {}

bool ArchiveWindow::open(const std::string& path) {
    file_ = platform::ReadOnlyFile::open(path);
    return file_ != nullptr;
}

const std::uint8_t* ArchiveWindow::view(std::uint64_t pos, std::size_t n) {
    const std::uint64_t total = mapped_.size();
    if (pos > total || n > total - pos)
        return nullptr;
    if (n == 0)
        return mapped_.data() + pos;
    if (length_ != 0 && pos >= start_ && pos - start_ + n <= length_)
        return buffer_.get() + (pos - start_);
    if (!file_ || n > window_)
        return mapped_.data() + pos;
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(window_);
    // Reads grow while the walk takes the file front to back (runs of documents) and start small
    // again where it jumps ahead (over an attachment's data): bytes nobody looks at are not
    // copied, and runs of small members still cost one read per window.
    const bool continuing = length_ != 0 && pos >= start_ && pos <= start_ + length_;
    readSize_ = continuing ? std::min(window_, readSize_ * 2) : std::min(window_, kFirstRead);
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(n, readSize_), total - pos));
    length_ = 0;
    if (!file_->readAt(pos, {buffer_.get(), want}))
        return mapped_.data() + pos;
    start_ = pos;
    length_ = want;
    return buffer_.get();
}

} // namespace parvelle::mailbox
