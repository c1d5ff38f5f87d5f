#pragma once
// A file opened for reading at explicit offsets. Bytes copied this way cost one copy each and no
// page faults, which on virtual machines are far dearer than the copy; readers that take each
// byte once (attachments, documents) read through it rather than through a mapping.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace parvelle::platform {

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens the file, shared so that contents reading from it keep it open as long as they live;
    // null when it cannot be opened.
    static std::shared_ptr<ReadOnlyFile> open(const std::string& path);

    // Fills `out` from file offset `offset`; false on an I/O error or when the file ends first.
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const;

private:
    int fd_ = -1;
};

} // namespace parvelle::platform
