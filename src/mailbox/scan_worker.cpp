#include "mailbox/scan_worker.h"

#include <algorithm>

#include "mailbox/member_paths.h"
#include "platform/text.h"

namespace parvelle::mailbox {
namespace {

constexpr std::uint32_t kSecondList = 0x80000000u;

bool containsAfterStart(std::string_view s, std::string_view what) {
    const auto p = s.find(what);
    return p != std::string_view::npos && p > 0;
}

} // namespace

void SummaryList::add(std::size_t record, ItemSummary&& summary) {
    if (count_ % kBlock == 0)
        blocks_.push_back(std::make_unique<Slot[]>(kBlock));
    Slot& slot = blocks_.back()[count_ % kBlock];
    slot.record = record;
    slot.summary = std::move(summary);
    ++count_;
}

SummaryTable::SummaryTable(std::size_t recordCount, SummaryList first, SummaryList second)
    : lists_{std::move(first), std::move(second)}, where_(recordCount, 0) {
    for (std::uint32_t list = 0; list < 2; ++list) {
        for (std::size_t i = 0; i < lists_[list].size(); ++i) {
            const std::size_t record = lists_[list].record(i);
            if (record < recordCount)
                where_[record] = static_cast<std::uint32_t>(i + 1) | (list == 1 ? kSecondList : 0);
        }
    }
}

ItemSummary* SummaryTable::find(std::size_t record) {
    if (record >= where_.size() || where_[record] == 0)
        return nullptr;
    const std::uint32_t w = where_[record];
    return &lists_[(w & kSecondList) != 0 ? 1 : 0].summary((w & ~kSecondList) - 1);
}

ScanWorker::ScanWorker(JobState& state, Limits limits)
    : state_(state), limits_(limits), worker_([this] { work(); }) {}

ScanWorker::~ScanWorker() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    workReady_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void ScanWorker::summarize(std::size_t record, std::string_view document) {
    queue(false, record, document, {});
}

void ScanWorker::addMember(std::string_view name, const ItemSource& source) {
    queue(true, 0, name, source);
}

void ScanWorker::queue(bool isMember, std::size_t record, std::string_view bytes,
                       const ItemSource& source) {
    if (pending_.entries.empty() && pending_.bytes.capacity() < limits_.batchBytes) {
        const std::lock_guard lock(mutex_);
        if (!free_.empty()) {
            pending_ = std::move(free_.back());
            free_.pop_back();
        } else {
            pending_.bytes.reserve(limits_.batchBytes + limits_.batchBytes / 4);
            pending_.entries.reserve(limits_.batchEntries);
        }
    }
    pending_.entries.push_back({isMember, record, pending_.bytes.size(), bytes.size(), source});
    pending_.bytes.append(bytes);
    if (pending_.bytes.size() >= limits_.batchBytes ||
        pending_.entries.size() >= limits_.batchEntries)
        hand(false);
}

void ScanWorker::hand(bool last) {
    bool help = false;
    {
        const std::lock_guard lock(mutex_);
        help = queuedBytes_ + pending_.bytes.size() > limits_.queueBytes && !queue_.empty();
    }
    if (help) {
        // The worker is behind: the documents of this batch are summarised here, and the batch
        // keeps only its members, which must reach the tables in order, and goes on filling.
        summarizeAll(pending_, callerResults_);
        keepMembers(pending_);
        if (!last && pending_.entries.size() < limits_.batchEntries &&
            pending_.bytes.size() < limits_.batchBytes)
            return;
    }
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        queuedBytes_ += pending_.bytes.size();
        queue_.push_back(std::move(pending_));
        wake = workerWaiting_;
    }
    pending_ = Batch{};
    if (wake)
        workReady_.notify_one();
}

void ScanWorker::keepMembers(Batch& batch) {
    std::size_t kept = 0;
    std::size_t bytes = 0;
    for (const Batch::Entry& entry : batch.entries) {
        if (!entry.isMember)
            continue;
        Batch::Entry moved = entry;
        std::char_traits<char>::move(batch.bytes.data() + bytes, batch.bytes.data() + entry.offset,
                                     entry.length);
        moved.offset = bytes;
        bytes += entry.length;
        batch.entries[kept++] = moved;
    }
    batch.entries.resize(kept);
    batch.bytes.resize(bytes);
}

void ScanWorker::summarizeAll(Batch& batch, SummaryList& results) {
    for (const Batch::Entry& entry : batch.entries) {
        if (state_.stopRequested.load(std::memory_order_relaxed) != 0)
            return;
        if (!entry.isMember)
            results.add(
                entry.record,
                summarizeItem(std::string_view(batch.bytes).substr(entry.offset, entry.length),
                              state_.stopRequested));
    }
}

void ScanWorker::addToTables(std::string_view name, const ItemSource& source) {
    AttachmentDetails details;
    static_cast<ItemSource&>(details) = source;
    state_.memberPaths.emplace(std::string(name), details);
    if (containsAfterStart(name, kAttachmentsFolder) && source.size != 0 &&
        text::equalsIgnoreAsciiCase(memberEntryKind(name), kAttachmentsFolder)) {
        std::string key = attachmentMemberKey(name);
        if (!key.empty()) {
            details.memberKey = key;
            state_.archiveMembers.emplace(std::move(key), std::move(details));
        }
    }
}

void ScanWorker::run(Batch& batch) {
    for (const Batch::Entry& entry : batch.entries) {
        const std::string_view bytes =
            std::string_view(batch.bytes).substr(entry.offset, entry.length);
        if (entry.isMember)
            addToTables(bytes, entry.source);
        else if (state_.stopRequested.load(std::memory_order_relaxed) == 0)
            workerResults_.add(entry.record, summarizeItem(bytes, state_.stopRequested));
    }
}

void ScanWorker::recycle(Batch batch) {
    // Emptied batches are kept for reuse unless one huge document made their buffer large.
    if (batch.bytes.capacity() > 4 * limits_.batchBytes)
        return;
    batch.bytes.clear();
    batch.entries.clear();
    const std::lock_guard lock(mutex_);
    free_.push_back(std::move(batch));
}

void ScanWorker::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        workerWaiting_ = true;
        workReady_.wait(lock, [this] { return closed_ || !queue_.empty(); });
        workerWaiting_ = false;
        if (queue_.empty())
            return;
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= batch.bytes.size();
        lock.unlock();
        run(batch);
        recycle(std::move(batch));
        lock.lock();
    }
}

SummaryTable ScanWorker::finish(std::size_t recordCount) {
    if (!pending_.entries.empty())
        hand(true);
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    workReady_.notify_all();
    if (worker_.joinable())
        worker_.join();
    free_.clear();
    return SummaryTable(recordCount, std::move(callerResults_), std::move(workerResults_));
}

} // namespace parvelle::mailbox
