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

} // namespace parvelle::items
