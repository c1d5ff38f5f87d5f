#include "mailbox/document_prefetch.h"

#include <exception>

namespace parvelle::mailbox {

DocumentPrefetch::DocumentPrefetch(const std::string& archivePath,
                                   const std::vector<RecoveredOlmHeaderData>& items)
    : items_(items) {
    archive_.open(archivePath);
    thread_ = std::thread([this] { run(); });
}

DocumentPrefetch::~DocumentPrefetch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

DocumentPrefetch::Document DocumentPrefetch::next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty(); });
    Document document = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return document;
}

void DocumentPrefetch::run() {
    for (const RecoveredOlmHeaderData& item : items_) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || ready_.size() < kAhead; });
            if (stopping_)
                return;
        }
        Document document;
        if (const std::optional<std::string> bytes = archive_.read(item)) {
            document.read = true;
            try {
                document.doc.LoadBytes(*bytes);
            } catch (const std::exception& e) {
                document.loadError = e.what();
            }
        }
        {
            std::lock_guard lock(mutex_);
            ready_.push_back(std::move(document));
        }
        changed_.notify_all();
    }
}

} // namespace parvelle::mailbox
