#pragma once
// The typed members of an item beyond those every message has: contacts, appointments, tasks,
// distribution lists and notes each answer their own dispatch ids (0x6004xxxx) from one table
// that says which MAPI property each one sets, and fill in on save what Outlook derives from
// them. The item consults its kind before its own members.
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "store/component/dispatch.h"
#include "store/mapi/property.h"

namespace parvelle::component {

class MailItem;

class ItemKind {
public:
    virtual ~ItemKind() = default;
    // Answers a call this kind defines; nullopt leaves it to the item's common members.
    virtual std::optional<Variant> invoke(MailItem& item, std::int32_t dispid, CallKind kind,
                                          std::span<const Variant> args) = 0;
    // Sets what the kind derives from the item's properties; runs before every save.
    virtual void beforeSave(MailItem& item) = 0;
};

// The kind an item of this message class is ("IPM.Contact", "IPM.Appointment", "IPM.Task",
// "IPM.DistList", "IPM.StickyNote" and their subclasses); nullptr for a plain message.
std::shared_ptr<ItemKind> itemKindFor(std::string_view messageClass);

// One row of a kind's table: a property put by dispatch id and the property it sets.
enum class TypedValue {
    Text,        // PT_UNICODE
    TextList,    // PT_MV_UNICODE holding the one text
    LocalDate,   // PT_SYSTIME from an automation date in local time
    LocalDay,    // PT_SYSTIME: the local date alone, its midnight written as if it were UTC
    LocalDayUtc, // PT_SYSTIME: the local date alone, its local midnight in UTC
};
struct TypedProperty {
    std::int32_t dispid = 0;
    TypedValue value = TypedValue::Text;
    mapi::PropTag tag = 0;                   // the MAPI property, or 0 when it is named
    std::optional<mapi::NamedProperty> name; // the named property
};
TypedProperty byTag(std::int32_t dispid, TypedValue value, std::uint16_t id);
TypedProperty byName(std::int32_t dispid, TypedValue value, const mapi::Guid& set,
                     std::uint32_t id);

// What a kind's invoke returns for a call it answered with no value.
inline std::optional<Variant> answered() {
    return std::optional<Variant>(std::in_place);
}

// Sets the property of the row whose dispatch id is called as a put; nullopt for any other call.
std::optional<Variant> putFromTable(std::span<const TypedProperty> table, MailItem& item,
                                    std::int32_t dispid, CallKind kind,
                                    std::span<const Variant> args);

// HTMLBody on a kind whose archives give plain text as often as HTML: text without markup is
// kept as the plain body, so its line breaks and angle brackets survive.
bool looksLikeHtml(std::string_view text);
void putDescription(MailItem& item, const std::string& text);

// Named properties of the item kinds (MS-OXPROPS), by property set.
inline mapi::NamedProperty addressProp(std::uint32_t id) {
    return {mapi::psets::kAddress, id};
}
inline mapi::NamedProperty appointmentProp(std::uint32_t id) {
    return {mapi::psets::kAppointment, id};
}
inline mapi::NamedProperty taskProp(std::uint32_t id) {
    return {mapi::psets::kTask, id};
}
inline mapi::NamedProperty commonProp(std::uint32_t id) {
    return {mapi::psets::kCommon, id};
}
inline mapi::NamedProperty noteProp(std::uint32_t id) {
    return {mapi::psets::kNote, id};
}

// The local wall-clock time of a UTC instant, as an automation date.
Date localDateFromFileTime(mapi::FileTime time);

std::shared_ptr<ItemKind> makeContactKind();
std::shared_ptr<ItemKind> makeAppointmentKind();
std::shared_ptr<ItemKind> makeTaskKind();
std::shared_ptr<ItemKind> makeDistListKind();
std::shared_ptr<ItemKind> makeNoteKind();

} // namespace parvelle::component
