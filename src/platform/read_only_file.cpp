#include "platform/read_only_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace parvelle::platform {

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::shared_ptr<ReadOnlyFile> ReadOnlyFile::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto file = std::make_shared<ReadOnlyFile>();
    file->fd_ = fd;
    return file;
}

bool ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    while (!out.empty()) {
        const ssize_t n = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out = out.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

} // namespace parvelle::platform
