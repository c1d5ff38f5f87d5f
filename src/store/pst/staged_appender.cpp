#include "store/pst/staged_appender.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace parvelle::pst {

void StagedAppender::Unmap::operator()(std::uint8_t* p) const {
    ::munmap(p, kBufferBytes);
}

StagedAppender::Buffer StagedAppender::allocateBuffer() {
    // The pages are mapped in one go: touched one by one as blocks are built, each would cost a
    // page fault, and on a virtual machine faults cost as much as the copying itself.
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;
#endif
    void* p = ::mmap(nullptr, kBufferBytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return Buffer(static_cast<std::uint8_t*>(p));
}

StagedAppender::StagedAppender(int fd, std::uint64_t start)
    : fd_(fd), buffer_(allocateBuffer()), base_(start) {
    for (std::size_t i = 1; i < kBuffers; ++i)
        spare_.push_back(allocateBuffer());
    thread_ = std::thread([this] { run(); });
}

StagedAppender::~StagedAppender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::uint8_t* StagedAppender::extend(std::uint64_t newEnd) {
    if (newEnd - base_ > kBufferBytes)
        flush();
    std::uint8_t* old = buffer_.get() + length_;
    length_ = newEnd - base_;
    return old;
}

namespace {

void sealAll(std::uint8_t* buffer, std::uint64_t base,
             const std::vector<StagedAppender::Seal>& seals) {
    for (const StagedAppender::Seal& s : seals) {
        const std::size_t total = blockTotalSize(Format::Unicode, s.dataSize);
        sealBlock(Format::Unicode, s.method, {buffer + (s.ib - base), total}, s.dataSize, s.bid,
                  s.ib);
    }
}

} // namespace

bool StagedAppender::copyOut(std::uint64_t ib, std::span<std::uint8_t> out) {
    if (ib >= base_ && ib + out.size() <= end()) {
        // Blocks read back before they are written are sealed now (rare: callers mostly read
        // what earlier sessions wrote).
        std::erase_if(seals_, [&](const Seal& s) {
            const std::uint64_t sealEnd = s.ib + blockTotalSize(Format::Unicode, s.dataSize);
            if (sealEnd <= ib || s.ib >= ib + out.size())
                return false;
            sealAll(buffer_.get(), base_, {s});
            return true;
        });
        std::copy_n(at(ib), out.size(), out.begin());
        return true;
    }
    // Buffers handed over are sealed in place by the thread: wait until they are in the file.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return written_ == handed_; });
    return false;
}

void StagedAppender::flush() {
    if (length_ == 0)
        return;
    if (beforeHandOver_)
        beforeHandOver_(base_, {buffer_.get(), length_});
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !spare_.empty(); });
    Buffer next = std::move(spare_.back());
    spare_.pop_back();
    queue_.push_back({std::move(buffer_), base_, length_, std::move(seals_)});
    ++handed_;
    lock.unlock();
    changed_.notify_all();
    seals_.clear();
    buffer_ = std::move(next);
    base_ += length_;
    length_ = 0;
}

bool StagedAppender::wait(std::string& error) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return settled(); });
    if (error_.empty())
        return true;
    error = error_;
    return false;
}

void StagedAppender::afterWritten(std::function<std::string()> action) {
    std::unique_lock lock(mutex_);
    if (!settled()) {
        after_.emplace_back(handed_, std::move(action));
        return;
    }
    if (!error_.empty())
        return;
    lock.unlock();
    std::string failure = action();
    if (failure.empty())
        return;
    lock.lock();
    if (error_.empty())
        error_ = std::move(failure);
}

bool StagedAppender::healthy(std::string& error) {
    std::lock_guard lock(mutex_);
    if (error_.empty())
        return true;
    error = error_;
    return false;
}

std::string writeAllAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t at) {
    const std::uint8_t* data = bytes.data();
    const std::size_t length = bytes.size();
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "cannot write the PST file: " +
                   (n < 0 ? std::error_code(errno, std::generic_category()).message()
                          : std::string("nothing was written"));
        done += static_cast<std::size_t>(n);
    }
    return {};
}

std::string StagedAppender::writeBuffer(const std::uint8_t* data, std::uint64_t base,
                                        std::size_t length) {
    std::string error = writeAllAt(fd_, {data, length}, base);
    if (error.empty()) {
        // Write-behind: start writing these pages to the disk now, so the disk works while
        // the next buffer is built and a commit's fdatasync finds little left to do (the
        // kernel would otherwise hold gigabytes of dirty pages until then). Errors here
        // surface at that fdatasync.
        ::sync_file_range(fd_, static_cast<off_t>(base), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
    }
    return error;
}

void StagedAppender::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty())
            return; // stopping with nothing left to write
        // The front buffer stays queued while it is written (copyOut and wait see it as not yet
        // in the file); no other thread touches it meanwhile.
        Handed& front = queue_.front();
        const bool failed = !error_.empty();
        lock.unlock();
        std::string error;
        if (!failed) {
            sealAll(front.buffer.get(), front.base, front.seals);
            error = writeBuffer(front.buffer.get(), front.base, front.length);
        }
        lock.lock();
        if (!error.empty() && error_.empty())
            error_ = error;
        spare_.push_back(std::move(front.buffer));
        queue_.pop_front();
        ++written_;
        // Actions waiting for the buffers written so far, in the order they came.
        while (!after_.empty() && after_.front().first <= written_) {
            std::function<std::string()> action = std::move(after_.front().second);
            const bool skip = !error_.empty();
            lock.unlock();
            std::string failure = skip ? std::string() : action();
            action = nullptr;
            lock.lock();
            after_.pop_front();
            if (!failure.empty() && error_.empty())
                error_ = failure;
        }
        changed_.notify_all();
    }
}

} // namespace parvelle::pst
