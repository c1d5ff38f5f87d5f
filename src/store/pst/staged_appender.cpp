#include "store/pst/staged_appender.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace parvelle::pst {

StagedAppender::StagedAppender(int fd, std::uint64_t start)
    : fd_(fd), buffer_(new std::uint8_t[kBufferBytes]), base_(start),
      writing_(new std::uint8_t[kBufferBytes]) {
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
    // The buffer being written is sealed in place by the thread: wait until it is in the file.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    return false;
}

void StagedAppender::flush() {
    if (length_ == 0)
        return;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    std::swap(buffer_, writing_);
    std::swap(seals_, writingSeals_);
    seals_.clear();
    writingBase_ = base_;
    writingLength_ = length_;
    busy_ = true;
    lock.unlock();
    changed_.notify_all();
    base_ += length_;
    length_ = 0;
}

bool StagedAppender::wait(std::string& error) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (error_.empty())
        return true;
    error = error_;
    return false;
}

void StagedAppender::afterWritten(std::function<std::string()> action) {
    std::unique_lock lock(mutex_);
    if (busy_) {
        after_.push_back(std::move(action));
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

void StagedAppender::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_)
            return; // stopping with nothing left to write
        std::uint8_t* data = writing_.get();
        const std::uint64_t base = writingBase_;
        const std::size_t length = writingLength_;
        const bool failed = !error_.empty();
        lock.unlock();
        if (!failed)
            sealAll(data, base, writingSeals_);
        std::string error;
        for (std::size_t done = 0; !failed && done < length;) {
            const ssize_t n =
                ::pwrite(fd_, data + done, length - done, static_cast<off_t>(base + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = "cannot write the PST file: " +
                        (n < 0 ? std::error_code(errno, std::generic_category()).message()
                               : std::string("nothing was written"));
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (!failed && error.empty()) {
            // Write-behind: start writing these pages to the disk now, so the disk works while
            // the next buffer is built and a commit's fdatasync finds little left to do (the
            // kernel would otherwise hold gigabytes of dirty pages until then). Errors here
            // surface at that fdatasync.
            ::sync_file_range(fd_, static_cast<off_t>(base), static_cast<off_t>(length),
                              SYNC_FILE_RANGE_WRITE);
        }
        lock.lock();
        if (!error.empty() && error_.empty())
            error_ = error;
        // Actions queued while this buffer was written (or while earlier actions ran).
        while (!after_.empty()) {
            std::vector<std::function<std::string()>> actions = std::move(after_);
            after_.clear();
            const bool skip = !error_.empty();
            lock.unlock();
            std::string failure;
            for (auto& action : actions)
                if (!skip && failure.empty())
                    failure = action();
            actions.clear();
            lock.lock();
            if (!failure.empty() && error_.empty())
                error_ = failure;
        }
        busy_ = false;
        changed_.notify_all();
    }
}

} // namespace parvelle::pst
