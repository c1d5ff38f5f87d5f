#include "items/contact_conversion.h"

#include "items/item_kind_support.h"
#include "items/mail_reader.h"

namespace parvelle::items {
namespace {

using component::Date;
using component::ObjectRef;

// Rows of the contact vocabulary that hold plain texts.
enum Row : std::size_t {
    kAssistantPhone = 1,
    kBusinessCity = 4,
    kBusinessCountry = 5,
    kBusinessFax = 6,
    kBusinessHomePage = 7,
    kBusinessPhone = 8,
    kBusinessPhone2 = 9,
    kBusinessZip = 10,
    kBusinessState = 11,
    kBusinessStreet = 12,
    kTitle = 13,
    kCompany = 14,
    kEmail0 = 15,
    kEmail1 = 16,
    kEmail2 = 17,
    kHomeWebPage = 18,
    kChildren = 19,
    kDepartment = 20,
    kFirstName = 21,
    kInterests = 22,
    kHomeCity = 23,
    kHomeCountry = 24,
    kHomeFax = 25,
    kHomePhone = 26,
    kHomePhone2 = 27,
    kHomeZip = 28,
    kHomeState = 29,
    kHomeStreet = 30,
    kImAddress = 31,
    kBusinessTitle = 32,
    kMiddleName = 33,
    kCellPhone = 34,
    kNickName = 35,
    kOtherFax = 36,
    kOtherCity = 37,
    kOtherCountry = 38,
    kOtherPhone = 39,
    kOtherState = 40,
    kOtherStreet = 41,
    kOtherZip = 42,
    kPager = 43,
    kMainPhone = 44,
    kRadioPhone = 45,
    kSpouse = 46,
    kNameSuffix = 47,
    kLastName = 48,
};

// How each text row is written: its property put, and the mailing-address tag some also set.
struct RowWrite {
    std::size_t row;
    std::int32_t dispid;
    std::int32_t tag; // 0: none
};

// In the order the rows are written.
constexpr RowWrite kLeadingRows[] = {
    {kHomeWebPage, 0x600400D8, 0},
    {kAssistantPhone, 0x60040006, 0},
    {kBusinessCity, 0x6004000E, 0x3A27001E},
    {kBusinessCountry, 0x60040010, 0},
    {kBusinessFax, 0x6004001A, 0},
    {kBusinessHomePage, 0x6004001C, 0},
    {kBusinessPhone, 0x6004001E, 0},
    {kBusinessPhone2, 0x6004000A, 0},
    {kBusinessZip, 0x60040012, 0x3A2A001E},
    {kBusinessState, 0x60040016, 0x3A28001E},
    {kBusinessStreet, 0x60040018, 0x3A29001E},
    {kDepartment, 0x60040033, 0},
    {kLastName, 0x60040083, 0},
    {kInterests, 0x60040059, 0},
    {kHomeCity, 0x6004005F, 0},
    {kHomeCountry, 0x60040061, 0},
    {kHomeFax, 0x6004006B, 0},
    {kHomePhone, 0x6004006D, 0},
    {kHomePhone2, 0x6004005B, 0},
    {kHomeZip, 0x60040063, 0},
    {kHomeState, 0x60040067, 0},
    {kHomeStreet, 0x60040069, 0},
    {kImAddress, 0x6004006F, 0},
    {kBusinessTitle, 0x60040077, 0},
    {kTitle, 0x600400CA, 0},
    {kMiddleName, 0x60040096, 0},
    {kNickName, 0x6004009E, 0},
    {kOtherCity, 0x600400A6, 0},
    {kOtherCountry, 0x600400A8, 0},
    {kOtherFax, 0x600400B2, 0},
    {kOtherState, 0x600400AE, 0},
    {kOtherStreet, 0x600400B0, 0},
    {kOtherZip, 0x600400AA, 0},
    {kOtherPhone, 0x600400B4, 0},
    {kMainPhone, 0x600400BA, 0},
    {kCellPhone, 0x60040098, 0},
    {kRadioPhone, 0x600400BE, 0},
    {kPager, 0x600400B6, 0},
    {kNameSuffix, 0x600400C6, 0},
    {kSpouse, 0x600400C4, 0},
};

// The elements looked up, in order; each short name stands for "OPFContactCopy" + it. Rows
// that are not plain texts are handled by name in readContact.
struct Lookup {
    const char* name;
    std::size_t row; // 0: handled by name
};
constexpr Lookup kLookups[] = {
    {"Age", 0},
    {"Anniversary", 0},
    {"AssistantPhone", kAssistantPhone},
    {"Birthday", 0},
    {"BloodType", 0},
    {"BusinessCity", kBusinessCity},
    {"BusinessCompany", kCompany},
    {"BusinessCountry", kBusinessCountry},
    {"BusinessDepartment", kDepartment},
    {"BusinessFax", kBusinessFax},
    {"BusinessHomePage", kBusinessHomePage},
    {"BusinessPhone", kBusinessPhone},
    {"BusinessPhone2", kBusinessPhone2},
    {"BusinessState", kBusinessState},
    {"BusinessStreetAddress", kBusinessStreet},
    {"BusinessTitle", kBusinessTitle},
    {"BusinessZip", kBusinessZip},
    {"CellPhone", kCellPhone},
    {"Children", 0},
    {"DefaultIMAddress", 0},
    {"DisplayName", 0},
    {"EmailAddressList", 0},
    {"FirstName", kFirstName},
    {"HomeCity", kHomeCity},
    {"HomeCountry", kHomeCountry},
    {"HomeFax", kHomeFax},
    {"HomePhone", kHomePhone},
    {"HomePhone2", kHomePhone2},
    {"HomeState", kHomeState},
    {"HomeStreetAddress", kHomeStreet},
    {"HomeWebPage", kHomeWebPage},
    {"HomeZip", kHomeZip},
    {"Interests", kInterests},
    {"LastName", kLastName},
    {"MiddleName", kMiddleName},
    {"ModDate", 0},
    {"NickName", kNickName},
    {"Notes", 0},
    {"OtherCity", kOtherCity},
    {"OtherCountry", kOtherCountry},
    {"OtherFax", kOtherFax},
    {"OtherPhone", kOtherPhone},
    {"OtherState", kOtherState},
    {"OtherStreetAddress", kOtherStreet},
    {"OtherZip", kOtherZip},
    {"Pager", kPager},
    {"RadioPhone", kRadioPhone},
    {"SetNameSuffix", kNameSuffix},
    {"SpousesName", kSpouse},
    {"Title", kTitle},
};

// The first child named `child` of the current child element: its text, or its attribute.
std::string firstOf(MarkupDocument& doc, const char* child, const char* attribute) {
    std::string value;
    doc.Descend();
    if (doc.FindChild(child))
        value = attribute != nullptr ? doc.ChildAttribute(attribute) : doc.ChildText();
    doc.Ascend();
    return value;
}

void readEmailList(MarkupDocument& doc, ContactRecord& contact, const ItemConversion& conv) {
    doc.Descend();
    while (!conv.stopRequested() && doc.FindChild("contactEmailAddress")) {
        const std::string address = doc.ChildAttribute("OPFContactEmailAddressAddress");
        const std::string type = doc.ChildAttribute("OPFContactEmailAddressType");
        // A later address of the same type replaces an earlier one.
        if (type == "0")
            contact.text[kEmail0] = address;
        else if (type == "1")
            contact.text[kEmail1] = address;
        else if (type == "2")
            contact.text[kEmail2] = address;
    }
    doc.Ascend();
}

void readContact(MarkupDocument& doc, ItemHolder& holder, ContactRecord& contact,
                 ItemConversion& conv) {
    ItemRecord& record = *holder.record;
    for (const Lookup& lookup : kLookups) {
        const std::string name = std::string("OPFContactCopy") + lookup.name;
        if (!doc.FindChild(name))
            continue;
        if (lookup.row != 0) {
            const std::string text = doc.ChildText();
            // Department and the second business phone are kept only when they say something.
            if (!text.empty() || (lookup.row != kDepartment && lookup.row != kBusinessPhone2))
                contact.text[lookup.row] = text;
            continue;
        }
        const std::string_view which = lookup.name;
        if (which == "Anniversary")
            contact.anniversary = ParseDateStamp(doc.ChildText());
        else if (which == "Birthday")
            contact.birthday = ParseDateStamp(doc.ChildText());
        else if (which == "Children")
            contact.text[kChildren] = firstOf(doc, "string", nullptr);
        else if (which == "DefaultIMAddress")
            contact.text[kImAddress] =
                firstOf(doc, "contactEmailAddress", "OPFContactEmailAddressAddress");
        else if (which == "DisplayName") {
            record.subject = doc.ChildText();
            AnnounceItem(conv, "Contact", record.subject);
        } else if (which == "EmailAddressList")
            readEmailList(doc, contact, conv);
        else if (which == "ModDate")
            record.receivedTime = ParseDateStamp(doc.ChildText());
        else if (which == "Notes")
            conv.htmlBody = doc.ChildText();
        // Age and BloodType are located but not kept.
    }
    if (doc.FindChild("OPFContactMainPhone"))
        contact.text[kMainPhone] = doc.ChildText();
}

void putText(const ObjectRef& item, std::int32_t dispid, const std::string& text) {
    if (!text.empty())
        item->put(dispid, text);
}

} // namespace

void ReadContact(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
                 ItemConversion& conv) {
    BeginKindItem(holder, conv);
    conv.htmlBody.clear();
    ContactRecord contact;
    try {
        readContact(doc, holder, contact, conv);
    } catch (const std::exception&) {
        // What was read so far is still written.
    }
    WriteContact(folder, holder, contact, conv);
}

void WriteContact(const component::ObjectRef& folder, ItemHolder& holder,
                  const ContactRecord& contact, ItemConversion& conv) {
    const ObjectRef item = NewStoreItem(folder, "IPM.Contact");
    if (!item)
        return;
    item->put(0x1E, "IPM.Contact");
    for (const RowWrite& w : kLeadingRows) {
        const std::string& text = contact.text[w.row];
        if (text.empty())
            continue;
        item->put(w.dispid, text);
        if (w.tag != 0)
            PutTag(item, w.tag, text);
    }
    // A contact without birthday keeps none: the zero date is not shifted into one.
    if (contact.birthday.value != 0)
        if (const DateStamp birthday = ToLocalDate(contact.birthday); birthday.value != 0)
            item->put(0x60040008, Date{birthday.value});
    putText(item, 0x60040024, contact.text[kChildren]);
    // The anniversary is a calendar date: its wall-clock text is the local date, unshifted.
    if (contact.anniversary.value != 0)
        item->put(0x60040002, Date{contact.anniversary.value});
    const std::pair<std::size_t, std::int32_t> emails[] = {
        {kEmail0, 0x8084}, {kEmail1, 0x8094}, {kEmail2, 0x80A4}};
    for (const auto& [row, id] : emails)
        if (!contact.text[row].empty())
            PutNamed(item, kAddressSet, id, 0x001E, contact.text[row]);
    putText(item, 0x6004004D, contact.text[kFirstName]);
    putText(item, 0x6004002D, contact.text[kCompany]);

    const ItemRecord* record = holder.record.get();
    if (record != nullptr && !record->subject.empty())
        item->put(0, record->subject);
    if (record != nullptr && record->receivedTime.value != 0)
        PutTag(item, 0x0E060040, Date{record->receivedTime.value});
    if (holder.unread == 0)
        item->put(0x41, false);
    if (!conv.htmlBody.empty()) {
        item->put(0x1A, conv.htmlBody);
        conv.htmlBody.clear();
    }
    item->put(0x38, true);
    item->call(6);
}

} // namespace parvelle::items
