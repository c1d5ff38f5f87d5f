#pragma once
// Reads and parses the documents of a folder's items ahead of the save, on a thread of its own,
// so that the next items are ready while the current one is converted and written. The reads go
// through a reader of its own; at most a few parsed documents wait at any time.
//
//   DocumentPrefetch ahead(archivePath, details.items);
//   for (...) { DocumentPrefetch::Document d = ahead.next(); ... }   // in the items' order
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mailbox/archive_reader.h"
#include "mailbox/records.h"
#include "markup/markup_document.h"

namespace parvelle::mailbox {

class DocumentPrefetch {
public:
    struct Document {
        bool read = false;     // false: the item's bytes could not be read from the archive
        std::string loadError; // what parsing threw, if it did
        markup::MarkupDocument doc;
    };

    DocumentPrefetch(const std::string& archivePath,
                     const std::vector<RecoveredOlmHeaderData>& items);
    // Stops reading ahead and waits for the thread.
    ~DocumentPrefetch();
    DocumentPrefetch(const DocumentPrefetch&) = delete;
    DocumentPrefetch& operator=(const DocumentPrefetch&) = delete;

    // The next item's document; call at most once per item.
    Document next();

private:
    static constexpr std::size_t kAhead = 8;
    void run();

    ArchiveReader archive_;
    const std::vector<RecoveredOlmHeaderData>& items_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Document> ready_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace parvelle::mailbox
