#include "mailbox/archive_reader.h"

#include <algorithm>

namespace parvelle::mailbox {

std::optional<std::string_view> viewItemBytes(ZipByteSource& archive, const ItemSource& item,
                                              InflatedMember& cache) {
    const auto total = static_cast<std::int64_t>(archive.size());
    if (item.offset < 0 || item.size < 0 || item.offset > total)
        return std::nullopt;
    if (item.method == 0) {
        if (item.size > total - item.offset)
            return std::nullopt;
        const auto n = static_cast<std::size_t>(item.size);
        const std::uint8_t* data = archive.view(static_cast<std::uint64_t>(item.offset), n);
        if (data == nullptr)
            return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(data), n);
    }
    if (item.method != 8 || item.packedSize < 0 || item.packedSize > total - item.offset)
        return std::nullopt;
    if (cache.offset != item.offset) {
        cache.offset = -1;
        const auto n = static_cast<std::size_t>(item.packedSize);
        const std::uint8_t* packed = archive.view(static_cast<std::uint64_t>(item.offset), n);
        std::string inflated;
        if (packed == nullptr || !inflateRaw({packed, n}, item.memberSize, inflated))
            return std::nullopt;
        cache.bytes = std::move(inflated);
        cache.offset = item.offset;
    }
    if (item.innerOffset < 0 || item.innerOffset > static_cast<std::int64_t>(cache.bytes.size()) ||
        item.size > static_cast<std::int64_t>(cache.bytes.size()) - item.innerOffset)
        return std::nullopt;
    return std::string_view(cache.bytes)
        .substr(static_cast<std::size_t>(item.innerOffset), static_cast<std::size_t>(item.size));
}

bool ArchiveReader::open(const std::string& path) {
    cache_ = {};
    return file_.open(path);
}

std::optional<std::string> ArchiveReader::read(const ItemSource& item) {
    SpanByteSource source(file_.bytes());
    if (const auto bytes = viewItemBytes(source, item, cache_))
        return std::string(*bytes);
    return std::nullopt;
}

ArchiveWindow::ArchiveWindow(std::span<const std::uint8_t> mapped, std::size_t window)
    : mapped_(mapped), window_(std::max<std::size_t>(window, 1)) {
    // Unbuffered: each window is read straight into our own buffer.
    file_.pubsetbuf(nullptr, 0);
}

bool ArchiveWindow::open(const std::string& path) {
    fileOpen_ = file_.open(path, std::ios::in | std::ios::binary) != nullptr;
    return fileOpen_;
}

const std::uint8_t* ArchiveWindow::view(std::uint64_t pos, std::size_t n) {
    const std::uint64_t total = mapped_.size();
    if (pos > total || n > total - pos)
        return nullptr;
    if (n == 0)
        return mapped_.data() + pos;
    if (length_ != 0 && pos >= start_ && pos - start_ + n <= length_)
        return buffer_.get() + (pos - start_);
    if (!fileOpen_ || n > window_)
        return mapped_.data() + pos;
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(window_);
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(window_, total - pos));
    length_ = 0;
    const auto target = static_cast<std::streamoff>(pos);
    if (file_.pubseekpos(target, std::ios::in) != std::streampos(target))
        return mapped_.data() + pos;
    const std::streamsize got =
        file_.sgetn(reinterpret_cast<char*>(buffer_.get()), static_cast<std::streamsize>(want));
    if (got < static_cast<std::streamsize>(n))
        return mapped_.data() + pos;
    start_ = pos;
    length_ = static_cast<std::size_t>(got);
    return buffer_.get();
}

} // namespace parvelle::mailbox
