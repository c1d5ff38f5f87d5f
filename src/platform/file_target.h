#pragma once
// Where a writer puts a new file, and the descriptor of a file reserved for it.
#include <string>
#include <unistd.h>
#include <utility>
#ifdef __linux__
#include <fcntl.h>
#endif

namespace parvelle::platform {

// Asks the system to start writing a file just written to the disk, without waiting for it. An
// export of many files otherwise leaves gigabytes in memory for the end of the job (or whoever
// flushes next) to write, while the disk sat idle during the job. Elsewhere the system's own
// write-back does it later.
inline void startWriteBack(int fd) {
#ifdef __linux__
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
#endif
}

// An open file descriptor with one owner, closed with it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A file a writer is to write. Without a reserved descriptor, `path` is replaced as a whole: the
// writer writes a temporary file next to it and renames it into place, so a failed write leaves
// whatever was there. With one, `path` is an empty file that the caller created exclusively for
// this write (so no other writer can take the name or lose its file): the bytes go straight into
// it, and after a failed write the caller removes it.
struct FileTarget {
    FileTarget(std::string path, int reservedFd = -1)
        : path(std::move(path)), reservedFd(reservedFd) {}
    std::string path;
    int reservedFd = -1; // not owned
};

} // namespace parvelle::platform
