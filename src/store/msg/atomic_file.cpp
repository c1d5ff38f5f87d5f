#include "store/msg/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace parvelle::msg {

namespace {

// Closes and removes the temporary file unless it was committed.
class TempFile {
public:
    TempFile(std::FILE* f, std::string path) : file_(f), path_(std::move(path)) {}
    ~TempFile() {
        if (file_)
            std::fclose(file_);
        if (!committed_)
            ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::FILE* file() const { return file_; }
    const std::string& path() const { return path_; }
    bool close() {
        std::FILE* f = file_;
        file_ = nullptr;
        return std::fclose(f) == 0;
    }
    void commit() { committed_ = true; }

private:
    std::FILE* file_;
    std::string path_;
    bool committed_ = false;
};

// The permissions a newly created file gets under the process umask (mkstemp's 0600 would
// hide the file from other users where the umask allows them to read it). Read from /proc so
// that the umask is never changed, not even briefly, under other threads.
mode_t newFileMode() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "Umask:", 6) == 0)
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8)) & 0777;
        std::fclose(status);
    }
    return 0666 & ~mask;
}

std::string systemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// The stream buffer of a file being written: given by us, since a stream that allocates its own
// asks the file system for its block size and buffers only that much (4 KB).
constexpr std::size_t kStreamBuffer = 1 << 16;

// Writes into the file the caller reserved, through a stream of its own on a duplicate of the
// descriptor; the caller keeps (and on failure removes) the file.
Status writeReserved(const platform::FileTarget& target,
                     const std::function<Status(std::FILE*)>& write, bool sync) {
    const int fd = ::fcntl(target.reservedFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return Status::failure(systemError("cannot write \"" + target.path + "\"", errno));
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        const int err = errno;
        ::close(fd);
        return Status::failure(systemError("cannot write \"" + target.path + "\"", err));
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(kStreamBuffer);
    std::setvbuf(f, buffer.get(), _IOFBF, kStreamBuffer);
    Status status = write(f);
    if (status && (std::fflush(f) != 0 || (sync && ::fsync(fd) != 0)))
        status = Status::failure(systemError("cannot write \"" + target.path + "\"", errno));
    if (std::fclose(f) != 0 && status)
        status = Status::failure(systemError("cannot write \"" + target.path + "\"", errno));
    return status;
}

} // namespace

Status writeFile(const platform::FileTarget& target, const std::function<Status(std::FILE*)>& write,
                 bool sync) {
    if (target.reservedFd >= 0)
        return writeReserved(target, write, sync);
    const std::string& path = target.path;
    const std::filesystem::path destination(path);
    if (destination.filename().empty())
        return Status::failure("no file name in \"" + path + "\"");
    const std::filesystem::path dir =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    std::string pattern = (dir / ("." + destination.filename().string() + ".tmp-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return Status::failure(
            systemError("cannot create a file in \"" + dir.string() + "\"", errno));
    ::fchmod(fd, newFileMode());
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        const int err = errno;
        ::close(fd);
        ::unlink(name.data());
        return Status::failure(systemError("cannot open the temporary file", err));
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(kStreamBuffer);
    TempFile temp(f, name.data()); // closed before the buffer goes
    std::setvbuf(f, buffer.get(), _IOFBF, kStreamBuffer);
    if (Status s = write(f); !s)
        return s;
    if (std::fflush(f) != 0 || (sync && ::fsync(::fileno(f)) != 0))
        return Status::failure(systemError("cannot write \"" + path + "\"", errno));
    if (!temp.close())
        return Status::failure(systemError("cannot write \"" + path + "\"", errno));
    if (::rename(temp.path().c_str(), path.c_str()) != 0)
        return Status::failure(
            systemError("cannot move the file into place at \"" + path + "\"", errno));
    temp.commit();
    return Status::success();
}

} // namespace parvelle::msg
