// The contact kind (IPM.Contact, MS-OXOCNTC).
//
// Derived on save, as Outlook does when its own object model saves a contact:
// - PidTagDisplayName from the subject (or the name parts), PidTagInitials from the name parts,
//   PidLidFileUnder "Last, First" with PidLidFileUnderId;
// - per e-mail slot whose address was given (PidLidEmailNEmailAddress, or PidLidEmailN-
//   OriginalDisplayName set alone, which archives fill with the address): the address, address
//   type "SMTP", display name "Name (address)", original display name and a one-off entry id,
//   likewise per fax number (business, home, primary) its FAX entry "name@number", then
//   PidLidAddressBookProviderEmailList and PidLidAddressBookProviderArrayType;
// - PidLidWorkAddress, PidLidHomeAddress and PidLidOtherAddress from their parts, and, when the
//   mailing address parts are set, PidTagPostalAddress and PidLidPostalAddressId (business when
//   they are the business address's, whose missing parts they then take);
// - PidLidBirthdayLocal and PidLidWeddingAnniversaryLocal from the dates.
#include <array>
#include <cmath>

#include "store/component/item_kind.h"
#include "store/component/mail_item.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/tags.h"

namespace parvelle::component {
namespace {

using enum TypedValue;
const mapi::Guid& kAddress = mapi::psets::kAddress;

// What a row derives on save, after its property: a "name part" the display name, the initials
// and the file-as name with its id; a "work part" (PidLidWorkAddressCity and its siblings) the work
// address, and the mailing address when that is the business one; a "home part" the home
// address; an "other part" the other address.
const std::vector<TypedProperty>& contactTable() {
    static const std::vector<TypedProperty> table = {
        // Anniversary: PidTagWeddingAnniversary; derives PidLidWeddingAnniversaryLocal
        byTag(0x60040002, LocalDate, 0x3A41),
        byTag(0x60040006, Text, 0x3A2E),            // AssistantTelephoneNumber
        byTag(0x60040008, LocalDate, 0x3A42),       // Birthday: PidTagBirthday; PidLidBirthdayLocal
        byTag(0x6004000A, Text, 0x3A1B),            // Business2TelephoneNumber
        byName(0x6004000E, Text, kAddress, 0x8046), // BusinessAddressCity: ...City; work part
        byName(0x60040010, Text, kAddress, 0x8049), // BusinessAddressCountry: ...Country; work part
        byName(0x60040012, Text, kAddress, 0x8048), // BusinessAddressPostalCode: ...; work part
        byName(0x60040016, Text, kAddress, 0x8047), // BusinessAddressState: ...State; work part
        byName(0x60040018, Text, kAddress, 0x8045), // BusinessAddressStreet: ...Street; work part
        byTag(0x6004001A, Text, 0x3A24),            // BusinessFaxNumber; its FAX entry (Fax2)
        byTag(0x6004001C, Text, 0x3A51),            // BusinessHomePage
        byTag(0x6004001E, Text, 0x3A08),            // BusinessTelephoneNumber
        byTag(0x60040024, TextList, 0x3A58),        // Children: PidTagChildrensNames
        byTag(0x6004002D, Text, 0x3A16),            // CompanyName; file-as when there is no name
        byTag(0x60040033, Text, 0x3A18),            // Department: PidTagDepartmentName
        byTag(0x6004004D, Text, 0x3A06),            // FirstName: PidTagGivenName; name part
        byTag(0x60040059, Text, 0x3A43),            // Hobbies
        byTag(0x6004005B, Text, 0x3A2F),            // Home2TelephoneNumber
        byTag(0x6004005F, Text, 0x3A59),            // HomeAddressCity; home part
        byTag(0x60040061, Text, 0x3A5A),            // HomeAddressCountry; home part
        byTag(0x60040063, Text, 0x3A5B),            // HomeAddressPostalCode; home part
        byTag(0x60040067, Text, 0x3A5C),            // HomeAddressStateOrProvince; home part
        byTag(0x60040069, Text, 0x3A5D),            // HomeAddressStreet; home part
        byTag(0x6004006B, Text, 0x3A25),            // HomeFaxNumber; its FAX entry (Fax3)
        byTag(0x6004006D, Text, 0x3A09),            // HomeTelephoneNumber
        byName(0x6004006F, Text, kAddress, 0x8062), // IMAddress: PidLidInstantMessagingAddress
        byTag(0x60040077, Text, 0x3A17),            // JobTitle: PidTagTitle
        byTag(0x60040083, Text, 0x3A11),            // LastName: PidTagSurname; name part
        byTag(0x60040096, Text, 0x3A44),            // MiddleName; name part
        byTag(0x60040098, Text, 0x3A1C),            // MobileTelephoneNumber
        byTag(0x6004009E, Text, 0x3A4F),            // NickName: PidTagNickname
        byTag(0x600400A6, Text, 0x3A5F),            // OtherAddressCity; other part
        byTag(0x600400A8, Text, 0x3A60),            // OtherAddressCountry; other part
        byTag(0x600400AA, Text, 0x3A61),            // OtherAddressPostalCode; other part
        byTag(0x600400AE, Text, 0x3A62),            // OtherAddressStateOrProvince; other part
        byTag(0x600400B0, Text, 0x3A63),            // OtherAddressStreet; other part
        byTag(0x600400B2, Text, 0x3A23),            // OtherFaxNumber: PidTagPrimaryFaxNumber; Fax1
        byTag(0x600400B4, Text, 0x3A1F),            // OtherTelephoneNumber
        byTag(0x600400B6, Text, 0x3A21),            // PagerNumber: PidTagPagerTelephoneNumber
        byTag(0x600400BA, Text, 0x3A1A),            // PrimaryTelephoneNumber
        byTag(0x600400BE, Text, 0x3A1D),            // RadioTelephoneNumber
        byTag(0x600400C4, Text, 0x3A48),            // Spouse: PidTagSpouseName
        byTag(0x600400C6, Text, 0x3A05),            // Suffix: PidTagGeneration; name part
        byTag(0x600400CA, Text, 0x3A45),            // Title: PidTagDisplayNamePrefix; name part
        byName(0x600400D8, Text, kAddress, 0x802B), // WebPage: PidLidHtml
    };
    return table;
}

namespace tags = mapi::tags;
using mapi::PropType;

constexpr mapi::PropTag tag(std::uint16_t id, PropType type = PropType::Unicode) {
    return mapi::makeTag(id, type);
}

std::string text(const MailItem& item, const mapi::NamedProperty& name) {
    const mapi::PropValue* v = item.getNamed(name);
    return v && v->asString() ? *v->asString() : std::string();
}

std::string joinNonEmpty(std::initializer_list<std::string> parts, const char* separator) {
    std::string out;
    for (const std::string& p : parts) {
        if (p.empty())
            continue;
        if (!out.empty())
            out += separator;
        out += p;
    }
    return out;
}

// "Street\r\nCity State Zip\r\nCountry", as Outlook composes an address from its parts.
std::string composeAddress(const std::string& street, const std::string& city,
                           const std::string& state, const std::string& zip,
                           const std::string& country) {
    return joinNonEmpty({street, joinNonEmpty({city, state, zip}, " "), country}, "\r\n");
}

struct EmailSlot {
    std::uint32_t displayName, addressType, address, originalDisplayName, originalEntryId;
};
constexpr std::array<EmailSlot, 3> kEmailSlots = {{
    {0x8080, 0x8082, 0x8083, 0x8084, 0x8085},
    {0x8090, 0x8092, 0x8093, 0x8094, 0x8095},
    {0x80A0, 0x80A2, 0x80A3, 0x80A4, 0x80A5},
}};

void deriveNames(MailItem& item) {
    auto& p = item.message().props;
    const std::string first = p.string(tag(0x3A06));
    const std::string middle = p.string(tag(0x3A44));
    const std::string last = p.string(tag(0x3A11));
    std::string display = p.string(tags::kSubject);
    if (display.empty())
        display =
            joinNonEmpty({p.string(tag(0x3A45)), first, middle, last, p.string(tag(0x3A05))}, " ");
    if (!display.empty() && p.string(tags::kDisplayName).empty())
        p.setString(tags::kDisplayName, display);
    if (p.string(tags::kSubject).empty() && !display.empty())
        p.setString(tags::kSubject, display);
    // PidTagInitials: the first letter of each name part, each with a dot ("Q.B.F.").
    std::string initials;
    for (const std::string* part : {&first, &middle, &last}) {
        if (part->empty())
            continue;
        std::size_t length = 1; // the whole first UTF-8 character
        while (length < part->size() &&
               (static_cast<unsigned char>((*part)[length]) & 0xC0) == 0x80)
            ++length;
        initials += part->substr(0, length) + ".";
    }
    if (!initials.empty() && p.string(tag(0x3A0A)).empty())
        p.setString(tag(0x3A0A), initials);

    std::string fileUnder;
    std::int32_t fileUnderId = 0x3001; // the display name
    if (!last.empty() && !first.empty()) {
        fileUnder = last + ", " + first;
        fileUnderId = 0x8017; // "Last, First"
    } else if (!display.empty()) {
        fileUnder = display;
    } else {
        fileUnder = p.string(tag(0x3A16));
        fileUnderId = 0x3A16; // the company
    }
    if (!fileUnder.empty() && text(item, addressProp(0x8005)).empty()) {
        item.setNamed(addressProp(0x8005), mapi::PropValue::unicode(fileUnder));
        item.setNamed(addressProp(0x8006), mapi::PropValue::i4(fileUnderId));
    }
}

void deriveEmails(MailItem& item) {
    const std::string display = item.message().props.string(tags::kDisplayName);
    std::vector<std::int32_t> present;
    std::int32_t arrayType = 0;
    for (std::size_t i = 0; i < kEmailSlots.size(); ++i) {
        const EmailSlot& slot = kEmailSlots[i];
        std::string address = text(item, addressProp(slot.address));
        if (address.empty())
            address = text(item, addressProp(slot.originalDisplayName));
        if (address.empty())
            continue;
        std::string type = text(item, addressProp(slot.addressType));
        if (type.empty())
            type = "SMTP";
        const std::string shown = display.empty() ? address : display + " (" + address + ")";
        item.setNamed(addressProp(slot.address), mapi::PropValue::unicode(address));
        item.setNamed(addressProp(slot.addressType), mapi::PropValue::unicode(type));
        item.setNamed(addressProp(slot.displayName), mapi::PropValue::unicode(shown));
        item.setNamed(addressProp(slot.originalDisplayName), mapi::PropValue::unicode(address));
        item.setNamed(addressProp(slot.originalEntryId),
                      mapi::PropValue::binary(mapi::oneOffEntryId(shown, type, address)));
        present.push_back(static_cast<std::int32_t>(i));
        arrayType |= 1 << i;
    }
    // A fax number is an address too: "name@number" of type FAX, listed after the e-mails.
    struct FaxSlot {
        std::uint16_t number;
        std::uint32_t first; // PidLidFaxNAddressType; the address, name and entry id follow
        std::int32_t entry;  // its place in the list
    };
    constexpr FaxSlot kFaxes[] = {{0x3A24, 0x80C2, 3}, {0x3A25, 0x80D2, 4}, {0x3A23, 0x80B2, 5}};
    for (const FaxSlot& fax : kFaxes) {
        const std::string number = item.message().props.string(tag(fax.number));
        if (number.empty())
            continue;
        const std::string name = display.empty() ? number : display;
        const std::string address = name + "@" + number;
        item.setNamed(addressProp(fax.first), mapi::PropValue::unicode("FAX"));
        item.setNamed(addressProp(fax.first + 1), mapi::PropValue::unicode(address));
        item.setNamed(addressProp(fax.first + 2), mapi::PropValue::unicode(name));
        item.setNamed(addressProp(fax.first + 3),
                      mapi::PropValue::binary(mapi::oneOffEntryId(name, "FAX", address)));
        present.push_back(fax.entry);
        arrayType |= 1 << fax.entry;
    }
    if (!present.empty()) {
        // PidLidAddressBookProviderEmailList and ...ArrayType.
        item.setNamed(addressProp(0x8028), mapi::PropValue::multiLong(present));
        item.setNamed(addressProp(0x8029), mapi::PropValue::i4(arrayType));
    }
}

void deriveAddresses(MailItem& item) {
    auto& p = item.message().props;
    const auto named = [&](std::uint32_t id) { return text(item, addressProp(id)); };
    const std::string work =
        composeAddress(named(0x8045), named(0x8046), named(0x8047), named(0x8048), named(0x8049));
    if (!work.empty())
        item.setNamed(addressProp(0x801B), mapi::PropValue::unicode(work));
    const std::string home =
        composeAddress(p.string(tag(0x3A5D)), p.string(tag(0x3A59)), p.string(tag(0x3A5C)),
                       p.string(tag(0x3A5B)), p.string(tag(0x3A5A)));
    if (!home.empty())
        item.setNamed(addressProp(0x801A), mapi::PropValue::unicode(home));
    const std::string other =
        composeAddress(p.string(tag(0x3A63)), p.string(tag(0x3A5F)), p.string(tag(0x3A62)),
                       p.string(tag(0x3A61)), p.string(tag(0x3A60)));
    if (!other.empty())
        item.setNamed(addressProp(0x801C), mapi::PropValue::unicode(other));
    // The mailing address (PidTagStreetAddress, PidTagLocality, ...), set through the fields.
    // When every part given matches the business address, the business address is the mailing
    // address, and its other parts (the country, typically) belong to it too.
    struct Part {
        std::uint16_t mailing;
        std::uint32_t work;
    };
    constexpr Part kParts[] = {
        {0x3A29, 0x8045}, {0x3A27, 0x8046}, {0x3A28, 0x8047}, {0x3A2A, 0x8048}, {0x3A26, 0x8049}};
    bool anyMailing = false;
    bool isWork = true;
    for (const Part& part : kParts) {
        const std::string m = p.string(tag(part.mailing));
        anyMailing = anyMailing || !m.empty();
        isWork = isWork && (m.empty() || m == named(part.work));
    }
    if (!anyMailing)
        return;
    if (isWork)
        for (const Part& part : kParts)
            if (!named(part.work).empty())
                p.setString(tag(part.mailing), named(part.work));
    p.setString(tag(0x3A15), // PidTagPostalAddress
                composeAddress(p.string(tag(0x3A29)), p.string(tag(0x3A27)), p.string(tag(0x3A28)),
                               p.string(tag(0x3A2A)), p.string(tag(0x3A26))));
    item.setNamed(addressProp(0x8022), mapi::PropValue::i4(isWork ? 2 : 3));
}

// PidLidBirthdayLocal / PidLidWeddingAnniversaryLocal: the local date at midnight, stored as
// if it were UTC.
void deriveLocalDate(MailItem& item, std::uint16_t utcId, std::uint32_t localId) {
    const mapi::PropValue* v = item.message().props.get(tag(utcId, PropType::SysTime));
    if (v == nullptr || !v->asTime())
        return;
    const Date local = localDateFromFileTime(*v->asTime());
    const double midnight = std::floor(local.value);
    item.setNamed(addressProp(localId), mapi::PropValue::time(fileTimeFromUtcDate(Date{midnight})));
}

class ContactKind : public ItemKind {
public:
    std::optional<Variant> invoke(MailItem& item, std::int32_t dispid, CallKind kind,
                                  std::span<const Variant> args) override {
        if (dispid == 0x1A && kind == CallKind::Put && !args.empty()) { // HTMLBody: the notes
            putDescription(item, args.back().toString());
            return answered();
        }
        return putFromTable(contactTable(), item, dispid, kind, args);
    }
    void beforeSave(MailItem& item) override {
        deriveNames(item);
        deriveEmails(item);
        deriveAddresses(item);
        deriveLocalDate(item, 0x3A42, 0x80DE);
        deriveLocalDate(item, 0x3A41, 0x80DF);
    }
};

} // namespace

std::shared_ptr<ItemKind> makeContactKind() {
    return std::make_shared<ContactKind>();
}

} // namespace parvelle::component
