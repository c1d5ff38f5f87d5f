#include "mailbox/archive_reader.h"

#include "mailbox/zip_walk.h"

namespace parvelle::mailbox {

bool ArchiveReader::open(const std::string& path) {
    cachedOffset_ = -1;
    cachedMember_.clear();
    return file_.open(path);
}

std::optional<std::string> ArchiveReader::read(const ItemSource& item) {
    const auto bytes = file_.bytes();
    const auto total = static_cast<std::int64_t>(bytes.size());
    if (item.offset < 0 || item.size < 0 || item.offset > total)
        return std::nullopt;
    if (item.method == 0) {
        if (item.size > total - item.offset)
            return std::nullopt;
        return std::string(reinterpret_cast<const char*>(bytes.data() + item.offset),
                           static_cast<std::size_t>(item.size));
    }
    if (item.method != 8 || item.packedSize < 0 || item.packedSize > total - item.offset)
        return std::nullopt;
    if (cachedOffset_ != item.offset) {
        cachedOffset_ = -1;
        std::string inflated;
        if (!inflateRaw(bytes.subspan(static_cast<std::size_t>(item.offset),
                                      static_cast<std::size_t>(item.packedSize)),
                        item.memberSize, inflated))
            return std::nullopt;
        cachedMember_ = std::move(inflated);
        cachedOffset_ = item.offset;
    }
    if (item.innerOffset < 0 ||
        item.innerOffset > static_cast<std::int64_t>(cachedMember_.size()) ||
        item.size > static_cast<std::int64_t>(cachedMember_.size()) - item.innerOffset)
        return std::nullopt;
    return cachedMember_.substr(static_cast<std::size_t>(item.innerOffset),
                                static_cast<std::size_t>(item.size));
}

} // namespace parvelle::mailbox
