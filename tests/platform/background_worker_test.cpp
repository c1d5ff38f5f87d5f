// The background worker hands work from one thread to others: every task runs once (in order
// with one thread, side by side with more), its failure reaches the caller with its tag, the
// caller never has more than the capacity queued (nor more than the cost limit held), and tasks
// left below the wake-up batch still run, whatever the capacity and however the two sides'
// speeds compare.
#include "platform/background_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
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
        std::chrono::microseconds taskTime;   // how long a task takes
        std::chrono::microseconds callerTime; // how long the caller takes between tasks
        std::size_t threads = 1;
        std::size_t wakeAt = 1;
    };
    for (const Case& c :
         {Case{1, 0us, 0us}, Case{2, 200us, 0us}, Case{5, 200us, 0us}, Case{8, 0us, 200us},
          Case{8, 100us, 100us}, Case{3, 50us, 150us}, Case{8, 200us, 0us, 2, 4},
          Case{8, 0us, 100us, 2, 4}, Case{4, 50us, 50us, 3, 3}, Case{2, 0us, 0us, 2, 5}}) {
        SCOPED_TRACE("capacity " + std::to_string(c.capacity) + ", threads " +
                     std::to_string(c.threads) + ", wake at " + std::to_string(c.wakeAt));
        std::mutex doneMutex;
        std::vector<int> done;
        std::atomic<int> submitted{0};
        std::atomic<int> started{0};
        std::atomic<int> mostWaiting{0};
        std::atomic<int> running{0};
        std::atomic<int> mostRunning{0};
        auto raise = [](std::atomic<int>& most, int value) {
            int seen = most;
            while (value > seen && !most.compare_exchange_weak(seen, value)) {
            }
        };
        {
            BackgroundWorker worker(c.capacity, c.threads, c.wakeAt);
            for (int i = 0; i < 300; ++i) {
                ++submitted;
                worker.submit(std::nullopt, [&, i] {
                    // Queued = submitted but not started; this one is no longer queued.
                    raise(mostWaiting, submitted - (++started));
                    raise(mostRunning, ++running);
                    {
                        std::lock_guard lock(doneMutex);
                        done.push_back(i);
                    }
                    std::this_thread::sleep_for(c.taskTime);
                    --running;
                    return std::string();
                });
                std::this_thread::sleep_for(c.callerTime);
            }
            EXPECT_TRUE(worker.takeFailures(true).empty());
            std::lock_guard lock(doneMutex);
            EXPECT_EQ(done.size(), 300u); // all finished once takeFailures(true) returns
        }
        ASSERT_EQ(done.size(), 300u);
        if (c.threads == 1) {
            for (int i = 0; i < 300; ++i)
                ASSERT_EQ(done[static_cast<std::size_t>(i)], i);
        } else {
            std::vector<int> sorted = done;
            std::sort(sorted.begin(), sorted.end());
            for (int i = 0; i < 300; ++i)
                ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i); // each once
        }
        // The submitting thread may have added one more while each thread was starting a task.
        EXPECT_LE(mostWaiting, static_cast<int>(c.capacity + c.threads));
        EXPECT_LE(mostRunning, static_cast<int>(c.threads));
        if (c.threads > 1 && c.taskTime > 0us && c.callerTime == 0us) {
            EXPECT_EQ(mostRunning, static_cast<int>(c.threads)); // slow tasks run side by side
        }
    }
}

TEST(BackgroundWorker, TasksBelowTheWakeUpBatchStillRun) {
    // Fewer tasks than wake the threads: waiting for them, or destroying the worker, runs them.
    std::atomic<int> finished{0};
    auto task = [&finished] {
        ++finished;
        return std::string("failed");
    };
    {
        BackgroundWorker worker(8, 2, 4);
        worker.submit(1, task);
        worker.submit(2, task);
        EXPECT_EQ(worker.takeFailures(true).size(), 2u);
        EXPECT_EQ(finished, 2);
        worker.submit(3, task);
    }
    EXPECT_EQ(finished, 3);
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

// Tasks that hold memory (a message's bodies, say) count it against the worker's limit: what is
// queued or running never holds more, except a task over the limit by itself, which then is all
// that is held; every task still runs once and in order.
TEST(BackgroundWorker, WhatQueuedTasksHoldStaysWithinTheLimit) {
    struct Case {
        const char* name;
        std::uint64_t limit;
        std::vector<std::uint64_t> costs; // repeated until 200 tasks
        std::chrono::microseconds taskTime;
    };
    const Case cases[] = {
        {"small tasks, slow worker", 100, {10, 30, 5, 60, 0, 25}, 100us},
        {"small tasks, fast worker", 100, {10, 30, 5, 60, 0, 25}, 0us},
        {"some tasks over the limit", 100, {20, 250, 40, 100, 101, 0}, 50us},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex heldMutex;
        // Admitted (submit() returned) and not finished: never more than the worker counts.
        std::int64_t held = 0;
        std::int64_t mostHeld = 0;
        std::vector<int> done;
        {
            BackgroundWorker worker(64, 1, 1, c.limit);
            for (int i = 0; i < 200; ++i) {
                const auto cost = static_cast<std::int64_t>(
                    c.costs[static_cast<std::size_t>(i) % c.costs.size()]);
                worker.submit(
                    std::nullopt,
                    [&, i, cost] {
                        std::this_thread::sleep_for(c.taskTime);
                        std::lock_guard lock(heldMutex);
                        // A task over the limit is held alone: nothing after it was admitted.
                        if (cost > static_cast<std::int64_t>(c.limit)) {
                            EXPECT_LE(held, cost) << "task " << i;
                        }
                        held -= cost;
                        done.push_back(i);
                        return std::string();
                    },
                    static_cast<std::uint64_t>(cost));
                std::lock_guard lock(heldMutex);
                held += cost;
                if (cost <= static_cast<std::int64_t>(c.limit))
                    mostHeld = std::max(mostHeld, held);
            }
            EXPECT_TRUE(worker.takeFailures(true).empty());
        }
        EXPECT_LE(mostHeld, static_cast<std::int64_t>(c.limit));
        ASSERT_EQ(done.size(), 200u);
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(done[static_cast<std::size_t>(i)], i);
    }
}

} // namespace
} // namespace parvelle::platform
