#pragma once
// Reads the bytes of located items back out of an archive: stored data in place through the
// mapping, deflated members inflated (the last inflated member is kept, so consecutive items of
// one deflated aggregate document cost one inflation).
#include <cstdint>
#include <optional>
#include <string>

#include "mailbox/records.h"
#include "platform/mapped_file.h"

namespace parvelle::mailbox {

class ArchiveReader {
public:
    bool open(const std::string& path);
    bool isOpen() const { return file_.isOpen(); }
    const std::string& error() const { return file_.error(); }
    const platform::MappedFile& file() const { return file_; }

    // The item's bytes, or nothing when they lie outside the archive or cannot be inflated.
    std::optional<std::string> read(const ItemSource& item);

private:
    platform::MappedFile file_;
    std::int64_t cachedOffset_ = -1;
    std::string cachedMember_;
};

} // namespace parvelle::mailbox
