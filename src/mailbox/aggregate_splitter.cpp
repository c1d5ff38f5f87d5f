#include <algorithm>
#include <functional>

#include "mailbox/mailbox_converter.h"

namespace parvelle::mailbox {
namespace {

struct AggregateLayout {
    std::string_view startTag;
    std::int64_t tailLength; // the document's closing root tag
    std::int64_t skip;       // declaration and root start tag before the first item
};

const AggregateLayout* layoutFor(AggregateType type) {
    static constexpr AggregateLayout kLayouts[] = {
        {"<contact xml:space=\"preserve\">", 11, 48},     {"<group xml:space=\"preserve\">", 9, 46},
        {"<task xml:space=\"preserve\">", 8, 45},         {"<note xml:space=\"preserve\">", 8, 45},
        {"<appointment xml:space=\"preserve\">", 15, 52},
    };
    const int index = static_cast<int>(type) - 1;
    return index >= 0 && index < 5 ? &kLayouts[index] : nullptr;
}

} // namespace

void MailboxConverter::splitAggregate(const ItemSource& source, std::string_view doc,
                                      const std::string& folderKey, AggregateType type) {
    const AggregateLayout* layout = layoutFor(type);
    if (layout == nullptr || source.offset == 0 || source.size == 0)
        return;
    progress();
    const auto end = static_cast<std::int64_t>(doc.size());
    // Each item runs from its start tag to the next one; the last ends where the closing root
    // tag begins. Positions are relative to the document's first byte.
    auto emit = [&](std::int64_t start, std::int64_t size) {
        FetchFileDetails record;
        static_cast<ItemSource&>(record) = source;
        if (source.method == 0) {
            record.offset = source.offset + start;
        } else {
            record.innerOffset = start;
        }
        record.size = std::max<std::int64_t>(size, 0);
        record.folderKey = folderKey;
        memberRecords_.push_back(std::move(record));
    };
    const std::boyer_moore_horspool_searcher searcher(layout->startTag.begin(),
                                                      layout->startTag.end());
    std::int64_t pos = std::min(layout->skip, end);
    std::int64_t itemStart = -1;
    while (pos < end && !stopRequested()) {
        const auto it = std::search(doc.begin() + pos, doc.end(), searcher);
        if (it == doc.end())
            break;
        const auto found = static_cast<std::int64_t>(it - doc.begin());
        if (itemStart >= 0)
            emit(itemStart, found - itemStart);
        itemStart = found;
        pos = found + 1;
    }
    if (itemStart >= 0)
        emit(itemStart, end - itemStart - layout->tailLength);
}

} // namespace parvelle::mailbox
