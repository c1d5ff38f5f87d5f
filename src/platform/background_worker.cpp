#include "platform/background_worker.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace parvelle::platform {

BackgroundWorker::BackgroundWorker(std::size_t capacity, std::size_t threads, std::size_t wakeAt,
                                   std::uint64_t costLimit)
    : capacity_(std::max<std::size_t>(capacity, 1)),
      wakeAt_(std::clamp<std::size_t>(wakeAt, 1, capacity_)), costLimit_(costLimit) {
    for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i)
        threads_.emplace_back([this] { run(); });
}

BackgroundWorker::~BackgroundWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

bool BackgroundWorker::roomFor(std::uint64_t cost) const {
    if (queue_.size() > lowMark())
        return false;
    return costLimit_ == 0 || held_ == 0 || (held_ <= costLimit_ / 2 && held_ + cost <= costLimit_);
}

void BackgroundWorker::submit(std::optional<std::size_t> row, Work work, std::uint64_t cost) {
    std::unique_lock lock(mutex_);
    if (queue_.size() >= capacity_ ||
        (costLimit_ != 0 && held_ != 0 && held_ + cost > costLimit_)) {
        ++waitingForRoom_;
        waitingCost_ = std::max(waitingCost_, cost);
        room_.wait(lock, [this, cost] { return roomFor(cost); });
        if (--waitingForRoom_ == 0)
            waitingCost_ = 0;
    }
    // Threads wait for tasks only on an empty queue, and are woken once enough are queued for
    // them: a wake-up per task would cost a system call per message.
    held_ += cost;
    queue_.push_back({row, std::move(work), cost});
    const bool wake = waitingForWork_ > 0 && (queue_.size() >= wakeAt_ || waitingForIdle_ > 0);
    lock.unlock();
    if (wake)
        work_.notify_all();
}

std::vector<BackgroundWorker::Failure> BackgroundWorker::takeFailures(bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) {
        ++waitingForIdle_;
        if (!queue_.empty() && waitingForWork_ > 0)
            work_.notify_all(); // fewer than wakeAt tasks wait for a thread
        idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
        --waitingForIdle_;
    }
    return std::exchange(failures_, {});
}

void BackgroundWorker::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        // Queued tasks are finished even when stopping: everything done until then stays.
        if (queue_.empty()) {
            ++waitingForWork_;
            work_.wait(lock, [this] {
                return stopping_ || queue_.size() >= wakeAt_ ||
                       (waitingForIdle_ > 0 && !queue_.empty());
            });
            --waitingForWork_;
            if (queue_.empty())
                return; // stopping with nothing left to do
        }
        Task task = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        const bool roomMade = waitingForRoom_ > 0 && roomFor(waitingCost_);
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
        --running_;
        held_ -= task.cost;
        if (!reason.empty())
            failures_.push_back({task.row, std::move(reason)});
        if (queue_.empty() && running_ == 0)
            idle_.notify_all();
        // What the finished task held may be what a waiting caller needs.
        if (task.cost != 0 && waitingForRoom_ > 0 && roomFor(waitingCost_))
            room_.notify_all();
    }
}

} // namespace parvelle::platform
