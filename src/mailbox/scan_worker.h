#pragma once
// The second thread of a scan. While the archive walk goes on, it summarises item documents and
// fills the archive member tables (JobState::memberPaths and archiveMembers) in the walk's order.
// The walk hands over copies of documents and member names in batches so that the threads meet
// rarely; when a few megabytes are queued, the walk summarises the documents of its next batch
// itself, so memory stays bounded and neither thread idles. Summaries are pure values: the job
// applies them to JobState afterwards, in its own order, so what the front end sees does not
// depend on which thread made them.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mailbox/item_summary.h"
#include "mailbox/job_state.h"

namespace parvelle::mailbox {

// Summaries kept in the order they were made, in fixed-size blocks so that growing never moves
// them.
class SummaryList {
public:
    void add(std::size_t record, ItemSummary&& summary);
    std::size_t size() const { return count_; }
    std::size_t record(std::size_t i) const { return block(i)[i % kBlock].record; }
    ItemSummary& summary(std::size_t i) { return block(i)[i % kBlock].summary; }

private:
    struct Slot {
        std::size_t record = 0;
        ItemSummary summary;
    };
    static constexpr std::size_t kBlock = 256;
    Slot* block(std::size_t i) const { return blocks_[i / kBlock].get(); }

    std::vector<std::unique_ptr<Slot[]>> blocks_;
    std::size_t count_ = 0;
};

// The summaries made during one walk, found by member record index.
class SummaryTable {
public:
    SummaryTable() = default;
    SummaryTable(std::size_t recordCount, SummaryList first, SummaryList second);

    // False when no walk made summaries (the records are then summarised one by one).
    bool empty() const { return where_.empty(); }
    // The summary of a record, or null when its document was never summarised.
    ItemSummary* find(std::size_t record);

private:
    SummaryList lists_[2];
    // Per record: 0 for none, else 1 + position, with the top bit naming the second list.
    std::vector<std::uint32_t> where_;
};

class ScanWorker {
public:
    struct Limits {
        std::size_t batchBytes = std::size_t{64} << 10; // a batch is handed over at this size
        std::size_t batchEntries = 64;                  // ... or with this many entries
        // Beyond this many queued bytes the walk summarises its next batch's documents itself.
        // The queue only evens out the two threads, so it is short.
        std::size_t queueBytes = std::size_t{1} << 20;
    };

    // The worker owns state.memberPaths and state.archiveMembers until finish() returns. Once
    // state.stopRequested is set, documents still waiting are not summarised (members queued
    // before still reach the tables).
    explicit ScanWorker(JobState& state) : ScanWorker(state, Limits{}) {}
    ScanWorker(JobState& state, Limits limits);
    ~ScanWorker();
    ScanWorker(const ScanWorker&) = delete;
    ScanWorker& operator=(const ScanWorker&) = delete;

    // Queues a copy of the document of the member record with this index.
    void summarize(std::size_t record, std::string_view document);
    // Queues a file member for the member tables.
    void addMember(std::string_view name, const ItemSource& source);
    // Waits until everything queued is done, ends the thread and returns the summaries; records
    // never queued, or dropped after a stop, have none.
    SummaryTable finish(std::size_t recordCount);

private:
    struct Batch {
        struct Entry {
            bool isMember;
            std::size_t record; // documents only
            std::size_t offset; // of the document or member name in bytes
            std::size_t length;
            ItemSource source; // members only
        };
        std::string bytes; // documents and member names, one after another
        std::vector<Entry> entries;
    };

    void queue(bool isMember, std::size_t record, std::string_view bytes, const ItemSource& source);
    // Queues the pending batch (`last`: whatever it holds).
    void hand(bool last);
    void summarizeAll(Batch& batch, SummaryList& results);
    static void keepMembers(Batch& batch);
    void run(Batch& batch);
    void addToTables(std::string_view name, const ItemSource& source);
    void recycle(Batch batch);
    void work();

    JobState& state_;
    const Limits limits_;
    Batch pending_;
    SummaryList callerResults_;
    SummaryList workerResults_; // the worker's own until it is joined

    std::mutex mutex_;
    std::condition_variable workReady_;
    std::deque<Batch> queue_;
    std::size_t queuedBytes_ = 0;
    std::vector<Batch> free_; // emptied batches, kept for their buffers
    bool workerWaiting_ = false;
    bool closed_ = false;
    std::thread worker_;
};

} // namespace parvelle::mailbox
