#include "items/item_kind_support.h"

#include <cctype>
#include <ctime>

#include "platform/datetime.h"

namespace parvelle::items {

using component::ObjectRef;
using component::Variant;

namespace {

// 1601-01-01, the earliest time a calendar time holds, as an automation date.
constexpr double kEarliestDate = -109205.0;
// 9999-12-31 23:59:59.
constexpr double kLatestDate = 2958465.999988;

bool sameFields(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

} // namespace

DateStamp ToLocalDate(DateStamp utc) {
    if (utc.status != kDateValid || utc.value < kEarliestDate || utc.value > kLatestDate)
        return {0, kDateInvalid};
    const std::time_t t = static_cast<std::time_t>(platform::unixFromOleDate(utc.value));
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return {0, kDateInvalid};
    const auto wallClock = static_cast<platform::UnixSeconds>(timegm(&local));
    const double value = platform::oleDateFromUnix(wallClock);
    // Valid only when the date converts back to the same calendar fields.
    const std::time_t back = static_cast<std::time_t>(platform::unixFromOleDate(value));
    std::tm check{};
    const bool ok = gmtime_r(&back, &check) != nullptr && sameFields(check, local);
    return {value, ok ? kDateValid : kDateInvalid};
}

std::int32_t NamedTag(const ObjectRef& item, const std::string& propertySet,
                      const Variant& idOrName, std::int32_t type) {
    return item->call(2, {propertySet, idOrName}).toInt() | type;
}

void PutTag(const ObjectRef& item, std::int32_t tag, Variant value) {
    item->putIndexed(3, {tag, std::move(value)});
}

void PutNamed(const ObjectRef& item, const std::string& propertySet, std::int32_t id,
              std::int32_t type, Variant value) {
    PutTag(item, NamedTag(item, propertySet, id, type), std::move(value));
}

std::int32_t LeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) &&
           value < 1'000'000'000;
         ++i)
        value = value * 10 + (text[i] - '0');
    return static_cast<std::int32_t>(value);
}

void BeginKindItem(ItemHolder& holder, ItemConversion& conv) {
    auto& state = conv.state;
    state.summaryFrom.clear();
    state.summaryTo.clear();
    state.summaryDate.clear();
    state.summarySubject.clear();
    state.currentSubject.clear();
    holder.record = std::make_unique<ItemRecord>();
    holder.kind = 1;
    // The archive keeps no read state for these kinds: written as read, as mails without one.
    holder.messageFlags = 1;
    holder.unread = 0;
}

void AnnounceItem(ItemConversion& conv, const std::string& itemType, const std::string& name) {
    conv.state.summarySubject = name;
    conv.state.currentSubject = name;
    conv.progress();
    conv.logItem(itemType, name);
}

ObjectRef NewStoreItem(const ObjectRef& folder, const std::string& messageClass) {
    if (!folder)
        return nullptr;
    const ObjectRef items = folder->get(0x11).toObject();
    if (!items)
        return nullptr;
    return items->call(4, {messageClass}).toObject();
}

void PutMessageFlags(const ObjectRef& item, const ItemHolder& holder) {
    PutTag(item, 0x0E070003, holder.messageFlags > 7 ? 1 : holder.messageFlags);
}

} // namespace parvelle::items
