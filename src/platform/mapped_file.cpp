#include "platform/mapped_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace parvelle::platform {

MappedFile::~MappedFile() {
    close();
}

MappedFile::MappedFile(MappedFile&& other) noexcept {
    *this = std::move(other);
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        close();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        opened_ = std::exchange(other.opened_, false);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool MappedFile::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = "it is a folder";
        ::close(fd);
        return false;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    if (size_ > 0) {
        void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            error_ = std::strerror(errno);
            ::close(fd);
            size_ = 0;
            return false;
        }
        data_ = static_cast<const std::uint8_t*>(p);
    }
    ::close(fd);
    opened_ = true;
    return true;
}

void MappedFile::close() {
    if (data_ != nullptr)
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
    opened_ = false;
}

void MappedFile::adviseSequential() const {
    if (data_ != nullptr)
        ::madvise(const_cast<std::uint8_t*>(data_), size_, MADV_SEQUENTIAL);
}

} // namespace parvelle::platform
