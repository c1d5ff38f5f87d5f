#include "store/component/item_kind.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>

#include "platform/datetime.h"
#include "store/component/mail_item.h"
#include "store/mapi/html_text.h"
#include "store/mapi/tags.h"

namespace parvelle::component {
namespace {

bool isClass(std::string_view messageClass, std::string_view base) {
    if (messageClass.size() < base.size())
        return false;
    for (std::size_t i = 0; i < base.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(messageClass[i])) !=
            std::tolower(static_cast<unsigned char>(base[i])))
            return false;
    return messageClass.size() == base.size() || messageClass[base.size()] == '.';
}

} // namespace

std::shared_ptr<ItemKind> itemKindFor(std::string_view messageClass) {
    if (isClass(messageClass, "IPM.Contact"))
        return makeContactKind();
    if (isClass(messageClass, "IPM.Appointment"))
        return makeAppointmentKind();
    if (isClass(messageClass, "IPM.Task"))
        return makeTaskKind();
    if (isClass(messageClass, "IPM.DistList"))
        return makeDistListKind();
    if (isClass(messageClass, "IPM.StickyNote"))
        return makeNoteKind();
    return nullptr;
}

TypedProperty byTag(std::int32_t dispid, TypedValue value, std::uint16_t id) {
    const mapi::PropType type = value == TypedValue::Text       ? mapi::PropType::Unicode
                                : value == TypedValue::TextList ? mapi::PropType::MvUnicode
                                                                : mapi::PropType::SysTime;
    return {dispid, value, mapi::makeTag(id, type), std::nullopt};
}

TypedProperty byName(std::int32_t dispid, TypedValue value, const mapi::Guid& set,
                     std::uint32_t id) {
    TypedProperty row{dispid, value, 0, std::nullopt};
    row.name.emplace();
    row.name->propertySet = set;
    row.name->name = id;
    return row;
}

std::optional<Variant> putFromTable(std::span<const TypedProperty> table, MailItem& item,
                                    std::int32_t dispid, CallKind kind,
                                    std::span<const Variant> args) {
    if (kind != CallKind::Put || args.empty())
        return std::nullopt;
    for (const TypedProperty& row : table) {
        if (row.dispid != dispid)
            continue;
        const Variant& v = args.back();
        mapi::PropValue value;
        switch (row.value) {
        case TypedValue::Text:
            value = mapi::PropValue::unicode(v.toString());
            break;
        case TypedValue::TextList:
            value = mapi::PropValue::multiUnicode({v.toString()});
            break;
        case TypedValue::LocalDate:
            value = mapi::PropValue::time(fileTimeFromLocalDate(v.toDate()));
            break;
        case TypedValue::LocalDay:
            value = mapi::PropValue::time(fileTimeFromUtcDate(Date{std::floor(v.toDate().value)}));
            break;
        case TypedValue::LocalDayUtc:
            value =
                mapi::PropValue::time(fileTimeFromLocalDate(Date{std::floor(v.toDate().value)}));
            break;
        }
        if (row.name)
            item.setNamed(*row.name, std::move(value));
        else
            item.message().props.set(row.tag, std::move(value));
        return answered();
    }
    return std::nullopt;
}

bool looksLikeHtml(std::string_view text) {
    static constexpr std::string_view kMarks[] = {"<html", "<body", "<div",   "<p>",  "<p ",
                                                  "<br",   "<span", "<table", "<font"};
    std::string lower(text.substr(0, std::min<std::size_t>(text.size(), 4096)));
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::string_view mark : kMarks)
        if (lower.find(mark) != std::string::npos)
            return true;
    return false;
}

void putDescription(MailItem& item, const std::string& text) {
    auto& props = item.message().props;
    if (looksLikeHtml(text)) {
        props.setBinary(mapi::tags::kHtml, mapi::Binary(text.begin(), text.end()));
        props.setInt(mapi::tags::kInternetCodepage, 65001);
        props.remove(mapi::tags::kBody);
        return;
    }
    props.remove(mapi::tags::kHtml);
    props.setString(mapi::tags::kBody, text);
}

Date localDateFromFileTime(mapi::FileTime time) {
    const std::time_t t = static_cast<std::time_t>(time.toUnixSeconds());
    std::tm fields{};
    if (localtime_r(&t, &fields) == nullptr)
        return {platform::oleDateFromUnix(time.toUnixSeconds())};
    return {platform::oleDateFromUnix(static_cast<platform::UnixSeconds>(timegm(&fields)))};
}

} // namespace parvelle::component
