#pragma once
// Runs tasks on threads of its own while the caller prepares the next ones, so that two stages
// of a job take both cores (export files encoded and written while the next mails are read; PST
// messages written while the next are converted). With one thread the tasks run in order, one
// after the other; with more, they start in order and run side by side (independent files, say).
// The caller learns of failed tasks through takeFailures; each failure carries the tag it was
// submitted with (a log row, say).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parvelle::platform {

class BackgroundWorker {
public:
    // One task; returns the reason of a failure, empty on success.
    using Work = std::function<std::string()>;

    // A task that failed: its tag (when it had one) and the reason.
    struct Failure {
        std::optional<std::size_t> row;
        std::string reason;
    };

    // At most `capacity` tasks wait at any time, so that what they hold stays little. A caller
    // that found the queue full waits until half of it is done: waking it for every finished
    // task would switch threads twice per task, which costs as much as small tasks themselves.
    // For the same reason threads that ran out of tasks sleep until `wakeAt` tasks are queued
    // (at most `capacity`), or until a caller waits for them or the worker is destroyed; with
    // the default of 1 a queued task starts at once.
    // With a `costLimit`, the tasks queued or running also hold at most that much of the cost
    // given to submit() (bytes in memory, say): a caller whose task would go past it waits until
    // the tasks hold at most half of it and its own fits; a task over the limit by itself waits
    // until nothing else is held.
    explicit BackgroundWorker(std::size_t capacity, std::size_t threads = 1, std::size_t wakeAt = 1,
                              std::uint64_t costLimit = 0);
    // Finishes every queued task.
    ~BackgroundWorker();
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;

    // Queues a task tagged `row`, of the given cost; waits while the queue is full.
    void submit(std::optional<std::size_t> row, Work work, std::uint64_t cost = 0);
    // The failures of the tasks finished so far; with `wait`, once every queued task finished.
    std::vector<Failure> takeFailures(bool wait);

private:
    struct Task {
        std::optional<std::size_t> row;
        Work write;
        std::uint64_t cost = 0;
    };
    const std::size_t capacity_;
    const std::size_t wakeAt_;
    const std::uint64_t costLimit_;
    std::size_t lowMark() const { return capacity_ / 2; }
    // With the lock held: a caller waiting with a task of this cost may queue it now.
    bool roomFor(std::uint64_t cost) const;
    void run();

    std::mutex mutex_;
    std::condition_variable work_; // the threads: a task or the stop arrived
    std::condition_variable room_; // callers of submit: the queue is down to its low mark
    std::condition_variable idle_; // callers of takeFailures: nothing queued or running
    std::deque<Task> queue_;
    std::vector<Failure> failures_;
    std::size_t waitingForRoom_ = 0;
    std::uint64_t waitingCost_ = 0;  // the cost of the task a caller waits to queue
    std::uint64_t held_ = 0;         // the cost of the tasks queued or running
    std::size_t waitingForWork_ = 0; // threads asleep on work_
    std::size_t running_ = 0;        // tasks taken off the queue and not yet finished
    std::size_t waitingForIdle_ = 0; // callers in takeFailures(true): every queued task starts
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace parvelle::platform
