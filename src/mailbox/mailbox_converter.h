#pragma once
// The job engine: one instance runs inside each job and turns an archive into the mailbox model
// (walk, folder tree, aggregate split, item extraction and summaries) and lists folders.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mailbox/archive_reader.h"
#include "mailbox/item_summary.h"
#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"
#include "mailbox/records.h"
#include "mailbox/scan_worker.h"

namespace parvelle::mailbox {

// Kinds of aggregate document; each holds all items of its kind for one folder.
enum class AggregateType : int {
    None = 0,
    Contacts = 1,
    Groups = 2,
    Tasks = 3,
    Notes = 4,
    Calendar = 5
};

class MailboxConverter {
public:
    MailboxConverter(JobState& state, JobFrontEnd& frontEnd) : state_(state), ui_(frontEnd) {}

    // Walks the archive and builds the model: directory entries, member records and the archive
    // member table, then the folder tree and the item summaries. An archive that cannot be
    // opened yields an empty model; the reason is kept in lastError().
    void scan(const std::string& archivePath);
    // Turns the directory entries into folder nodes and tree nodes.
    void buildTree();
    // Summarises every located item and fills folderItems.
    void extractEntries(const std::string& archivePath);
    // Cuts one aggregate document (located by `source`) into one record per item.
    void splitAggregate(const ItemSource& source, std::string_view documentBytes,
                        const std::string& folderKey, AggregateType type);
    // Fills the summary scratch fields of JobState from one item document. Returns the kind of
    // its top-level element, or empty when none was recognised.
    std::string summarize(std::string_view documentBytes);
    // The body of a folder listing: the item list receives the records of the folder shown by
    // state.listFolderItem.
    void listFolder();

    // The bytes of an item, read again from the archive (the save and preview jobs use this).
    std::optional<std::string> extractItem(const std::string& archivePath, const ItemSource& item);

    JobState& state() { return state_; }
    JobFrontEnd& frontEnd() { return ui_; }
    const std::vector<FetchFileDetails>& memberRecords() const { return memberRecords_; }
    const std::string& lastError() const { return lastError_; }
    // Whether the archive could be opened, and how many ZIP members the last scan found in it.
    bool archiveOpened() const { return archiveOpened_; }
    std::int64_t membersFound() const { return membersFound_; }

private:
    void makeNode(std::string path);
    // Moves a summary into the scratch fields of JobState and writes the reader's log row;
    // returns the item's kind.
    std::string applySummary(ItemSummary&& summary);
    bool stopRequested() const { return state_.stopRequested.load() != 0; }
    void progress() { ui_.send(Notification::Progress, 0, nullptr); }

    JobState& state_;
    JobFrontEnd& ui_;
    std::vector<FetchFileDetails> memberRecords_;
    std::vector<PstFolderInfo> folderPath_;
    std::vector<std::string> ancestorPaths_;
    std::int32_t retryFlag_ = 0;
    std::unordered_set<std::string> nodeNames_;
    std::unordered_map<std::string, TreeItem> nodeKeys_;
    ArchiveReader archive_;
    // Summaries made during the walk, by member record index; empty when none were made.
    SummaryTable summaries_;
    std::string archiveOpenPath_;
    std::string lastError_;
    bool archiveOpened_ = false;
    std::int64_t membersFound_ = 0;
};

} // namespace parvelle::mailbox
