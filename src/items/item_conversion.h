#pragma once
// What the item readers and writers share while one save job converts documents: the job
// state and front end, the archive the attachments are copied from, the store session message
// files are made through, and the bodies of the mail being converted.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"
#include "platform/background_worker.h"
#include "store/component/dispatch.h"
#include "store/mapi/message.h"

namespace parvelle::items {

class ItemConversion {
public:
    using ArchiveRead = std::function<std::optional<std::string>(const mailbox::ItemSource&)>;

    ItemConversion(mailbox::JobState& state, mailbox::JobFrontEnd& ui, ArchiveRead readArchive)
        : state(state), ui(ui), readArchive(std::move(readArchive)) {}

    mailbox::JobState& state;
    mailbox::JobFrontEnd& ui;
    // Reads the bytes of an archive member (attachments); nothing when it cannot be read.
    ArchiveRead readArchive;
    // When set, attachments are handed to the items straight from the archive through this
    // reader (registered under their would-be file path) instead of being copied to files.
    std::function<std::optional<mapi::AttachmentContent>(const mailbox::ItemSource&)>
        openArchiveMember;
    // The session of the running save (message files are created through it).
    component::ObjectRef jobSession;
    // The bodies of the mail being converted.
    std::string bodyText;
    std::string htmlBody;

    bool stopRequested() const { return state.stopRequested.load() != 0; }
    void progress() { ui.send(mailbox::Notification::Progress, 0, nullptr); }

    // The item's log row, status "Converted". The row is remembered so that the dispatcher can
    // turn it into a failure when writing the item fails afterwards.
    void logItem(std::string itemType, std::string description);
    // Converting the current item failed: its row (or a new one, when none was logged yet)
    // carries the reason instead of "Converted", and the job counts it.
    void markItemFailed(const std::string& itemType, const std::string& reason);
    // Starts a new item: forgets the previous item's row, after taking in the writes of earlier
    // items that finished meanwhile.
    void beginItem();
    // The current item's log row, once logged.
    std::optional<std::size_t> itemRow() const { return itemRow_; }

    // From now on export files are written by a background thread (the save job's choice; other
    // callers have each file written before the writer returns).
    void enableBackgroundWrites() { backgroundWrites_ = true; }
    // The background writer, started on first use; nullptr when background writes are off.
    platform::BackgroundWorker* backgroundWriter();
    // Takes in the outcome of the background writes finished so far, or, with `wait`, of all of
    // them: the row of an item whose file could not be written becomes a failure with its
    // reason, and the item counts as failed rather than saved (the job counted it as saved
    // when its writer returned).
    void finishBackgroundWrites(bool wait);

private:
    std::optional<std::size_t> itemRow_;
    bool backgroundWrites_ = false;
    std::unique_ptr<platform::BackgroundWorker> writer_;
};

} // namespace parvelle::items
