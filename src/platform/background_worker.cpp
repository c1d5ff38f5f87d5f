#include "platform/background_worker.h"

#include <exception>
#include <utility>

namespace parvelle::platform {

BackgroundWorker::BackgroundWorker(std::size_t capacity)
    : capacity_(capacity > 0 ? capacity : 1), thread_([this] { run(); }) {}

BackgroundWorker::~BackgroundWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_one();
    thread_.join();
}

void BackgroundWorker::submit(std::optional<std::size_t> row, Work work) {
    std::unique_lock lock(mutex_);
    if (queue_.size() >= capacity_) {
        ++waitingForRoom_;
        room_.wait(lock, [this] { return queue_.size() <= lowMark(); });
        --waitingForRoom_;
    }
    // Only the thread waits for tasks, and only on an empty queue: a wake-up per task would cost
    // a system call per message.
    const bool wake = queue_.empty();
    queue_.push_back({row, std::move(work)});
    lock.unlock();
    if (wake)
        work_.notify_one();
}

std::vector<BackgroundWorker::Failure> BackgroundWorker::takeFailures(bool wait) {
    std::unique_lock lock(mutex_);
    if (wait)
        idle_.wait(lock, [this] { return queue_.empty() && !writing_; });
    return std::exchange(failures_, {});
}

void BackgroundWorker::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        // Queued tasks are finished even when stopping: everything done until then stays.
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Task task = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        const bool roomMade = waitingForRoom_ > 0 && queue_.size() <= lowMark();
        lock.unlock();
        if (roomMade)
            room_.notify_all();
        std::string reason;
        try {
            reason = task.write();
        } catch (const std::exception& e) {
            reason = e.what();
        }
        task.write = nullptr; // what it held is released here, not under the lock
        lock.lock();
        writing_ = false;
        if (!reason.empty())
            failures_.push_back({task.row, std::move(reason)});
        if (queue_.empty())
            idle_.notify_all();
    }
}

} // namespace parvelle::platform
