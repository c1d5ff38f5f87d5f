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
    // Four queued files keep the writing thread busy while the job thread prepares the next mail.
    if (backgroundWrites_ && !writer_)
        writer_ = std::make_unique<platform::BackgroundWorker>(4);
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
