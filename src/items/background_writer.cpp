#include "items/background_writer.h"

#include <exception>
#include <utility>

namespace parvelle::items {
namespace {

// Enough to keep the writing thread busy while the job thread prepares the next mail.
constexpr std::size_t kMaxQueued = 4;

} // namespace

BackgroundWriter::BackgroundWriter() : thread_([this] { run(); }) {}

BackgroundWriter::~BackgroundWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundWriter::submit(std::optional<std::size_t> row, Write write) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < kMaxQueued; });
    queue_.push_back({row, std::move(write)});
    changed_.notify_all();
}

std::vector<BackgroundWriter::Failure> BackgroundWriter::takeFailures(bool wait) {
    std::unique_lock lock(mutex_);
    if (wait)
        changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
    return std::exchange(failures_, {});
}

void BackgroundWriter::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        // Queued writes are finished even when stopping: everything done until then stays.
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Task task = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        changed_.notify_all();
        lock.unlock();
        std::string reason;
        try {
            reason = task.write();
        } catch (const std::exception& e) {
            reason = e.what();
        }
        task.write = nullptr; // the message it held goes here, not under the lock
        lock.lock();
        writing_ = false;
        if (!reason.empty())
            failures_.push_back({task.row, std::move(reason)});
        changed_.notify_all();
    }
}

} // namespace parvelle::items
