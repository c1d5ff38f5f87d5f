#pragma once
// What the readers and writers of contacts, events, tasks, notes and groups share: the local
// time of an archive date, named-property tags, the start of an item and its log row, and the
// new store item they all begin with.
#include <cstdint>
#include <string>
#include <string_view>

#include "items/item_conversion.h"
#include "items/item_record.h"
#include "markup/markup_document.h"
#include "store/component/dispatch.h"

namespace parvelle::items {

// Property sets the writers name named properties by.
inline constexpr const char* kAddressSet = "{00062004-0000-0000-C000-000000000046}";
inline constexpr const char* kAppointmentSet = "{00062002-0000-0000-C000-000000000046}";
inline constexpr const char* kCommonSet = "{00062008-0000-0000-C000-000000000046}";

// The local wall-clock time of a UTC stamp (the machine's time zone). An invalid stamp, or one
// outside what a calendar time can hold, gives the zero date.
DateStamp ToLocalDate(DateStamp utc);
// The tag of a named property on `item` (DISPID 2) with the property type or-ed in.
std::int32_t NamedTag(const component::ObjectRef& item, const std::string& propertySet,
                      const component::Variant& idOrName, std::int32_t type);
// The indexed field put (DISPID 3) of a tag, and of a named property.
void PutTag(const component::ObjectRef& item, std::int32_t tag, component::Variant value);
void PutNamed(const component::ObjectRef& item, const std::string& propertySet, std::int32_t id,
              std::int32_t type, component::Variant value);

// The leading decimal digits of a text as a number (0 when there are none).
std::int32_t LeadingInteger(std::string_view text);

// Starts reading an item: the job's current-item texts emptied, a new record in the holder,
// which is written as read.
void BeginKindItem(ItemHolder& holder, ItemConversion& conv);
// The item's name becomes the job's current-item text; progress is shown and the item's log
// row written.
void AnnounceItem(ItemConversion& conv, const std::string& itemType, const std::string& name);
// items = folder get 0x11; item = items Add(messageClass); nullptr when either is missing.
component::ObjectRef NewStoreItem(const component::ObjectRef& folder,
                                  const std::string& messageClass);
// PidTagMessageFlags as the holder gives it (values above 7 written as 1).
void PutMessageFlags(const component::ObjectRef& item, const ItemHolder& holder);

} // namespace parvelle::items
