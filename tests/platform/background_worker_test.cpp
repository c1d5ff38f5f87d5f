// The background worker hands work from one thread to another: every task runs once, in order,
// its failure reaches the caller with its tag, and the caller never has more than the capacity
// queued, whatever the capacity and however the two sides' speeds compare.
#include "platform/background_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace parvelle::platform {
namespace {

using namespace std::chrono_literals;

TEST(BackgroundWorker, RunsEveryTaskInOrderWithinItsCapacity) {
    struct Case {
        std::size_t capacity;
        std::chrono::microseconds taskTime; // how long a task takes
        std::chrono::microseconds callerTime; // how long the caller takes between tasks
    };
    for (const Case& c : {Case{1, 0us, 0us}, Case{2, 200us, 0us}, Case{5, 200us, 0us},
                          Case{8, 0us, 200us}, Case{8, 100us, 100us}, Case{3, 50us, 150us}}) {
        SCOPED_TRACE("capacity " + std::to_string(c.capacity));
        std::vector<int> done;
        std::atomic<int> submitted{0};
        std::atomic<int> started{0};
        std::atomic<int> mostWaiting{0};
        {
            BackgroundWorker worker(c.capacity);
            for (int i = 0; i < 300; ++i) {
                ++submitted;
                worker.submit(std::nullopt, [&, i] {
                    // Queued = submitted but not started; this one is no longer queued.
                    const int waiting = submitted - (++started);
                    int seen = mostWaiting;
                    while (waiting > seen && !mostWaiting.compare_exchange_weak(seen, waiting)) {
                    }
                    done.push_back(i); // only the worker's thread touches it until the end
                    std::this_thread::sleep_for(c.taskTime);
                    return std::string();
                });
                std::this_thread::sleep_for(c.callerTime);
            }
            EXPECT_TRUE(worker.takeFailures(true).empty());
            EXPECT_EQ(done.size(), 300u); // all finished once takeFailures(true) returns
        }
        ASSERT_EQ(done.size(), 300u);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(done[static_cast<std::size_t>(i)], i);
        // The submitting thread may have added one more while a task was starting.
        EXPECT_LE(mostWaiting, static_cast<int>(c.capacity) + 1);
    }
}

TEST(BackgroundWorker, FailuresCarryTheirTagsAndQueuedTasksFinishOnDestruction) {
    std::atomic<int> finished{0};
    std::vector<BackgroundWorker::Failure> failures;
    {
        BackgroundWorker worker(2);
        for (std::size_t row = 0; row < 20; ++row)
            worker.submit(row, [&finished, row]() -> std::string {
                std::this_thread::sleep_for(100us);
                ++finished;
                if (row == 10)
                    throw std::runtime_error("thrown at row 10");
                return row % 7 == 3 ? "row " + std::to_string(row) + " failed" : "";
            });
        failures = worker.takeFailures(true);
        for (int i = 0; i < 5; ++i)
            worker.submit(std::nullopt, [&finished] {
                std::this_thread::sleep_for(1ms);
                ++finished;
                return std::string();
            });
        // Destroyed with tasks still queued: they run before its thread ends.
    }
    EXPECT_EQ(finished, 25);
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].row, std::optional<std::size_t>(3));
    EXPECT_EQ(failures[0].reason, "row 3 failed");
    EXPECT_EQ(failures[1].row, std::optional<std::size_t>(10));
    EXPECT_EQ(failures[1].reason, "thrown at row 10");
    EXPECT_EQ(failures[2].row, std::optional<std::size_t>(17));
    EXPECT_EQ(failures[2].reason, "row 17 failed");
}

} // namespace
} // namespace parvelle::platform
