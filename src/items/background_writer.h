#pragma once
// Writes export files on a thread of its own while the job reads and converts the next mails, so
// that encoding and writing one mail and parsing the next take both cores. The job thread learns
// of failed writes through takeFailures and turns the items' log rows into failures itself.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parvelle::items {

class BackgroundWriter {
public:
    // Writes one file; returns the reason of a failure, empty on success. A failed write removes
    // what it wrote.
    using Write = std::function<std::string()>;

    // A write that failed: the log row of its item (when it had one) and the reason.
    struct Failure {
        std::optional<std::size_t> row;
        std::string reason;
    };

    BackgroundWriter();
    // Waits for every queued write.
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // Queues a write for the item of log row `row`. Waits while a few writes are queued already,
    // so that the messages held for them stay few.
    void submit(std::optional<std::size_t> row, Write write);
    // The failures of the writes finished so far; with `wait`, once every queued write finished.
    std::vector<Failure> takeFailures(bool wait);

private:
    struct Task {
        std::optional<std::size_t> row;
        Write write;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> queue_;
    std::vector<Failure> failures_;
    bool writing_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace parvelle::items
