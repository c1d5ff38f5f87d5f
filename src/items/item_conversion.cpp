#include "items/item_conversion.h"

namespace parvelle::items {

void ItemConversion::logItem(std::string itemType, std::string description) {
    itemRow_ = state.log.AppendLogRow(std::move(itemType), std::move(description), "Converted");
}

void ItemConversion::markItemFailed(const std::string& itemType, const std::string& reason) {
    const std::string status = "Failed: " + reason;
    if (itemRow_)
        state.log.setStatus(*itemRow_, status);
    else
        itemRow_ = state.log.AppendLogRow(itemType, "", status);
    ++state.itemsFailed;
}

void ItemConversion::beginItem() {
    finishBackgroundWrites(false);
    itemRow_.reset();
}

platform::BackgroundWorker* ItemConversion::backgroundWriter() {
    // Encoding and writing a file costs about twice what reading its mail does, so two threads
    // write (each file is its own, so they need no order) while the job thread prepares the
    // next mails. Eight queued files keep them busy; they wake for four at a time, as a wake-up
    // per file would cost about as much as a small file itself.
    if (backgroundWrites_ && !writer_)
        writer_ = std::make_unique<platform::BackgroundWorker>(8, 2, 4);
    return writer_.get();
}

void ItemConversion::finishBackgroundWrites(bool wait) {
    if (!writer_)
        return;
    for (platform::BackgroundWorker::Failure& failure : writer_->takeFailures(wait)) {
        const std::string status = "Failed: " + failure.reason;
        if (failure.row)
            state.log.setStatus(*failure.row, status);
        else
            state.log.AppendLogRow("Message", "", status);
        --state.itemsSaved;
        ++state.itemsFailed;
    }
}

} // namespace parvelle::items
