// Contacts, events, tasks, notes and groups converted from generated archive documents into a
// PST, then read back with our reader and the third-party readers: every field arrives with its
// value, dates as the archive's UTC instants (the test runs in a zone with daylight saving).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "items/item_kind_support.h"
#include "kinds_fixture.h"
#include "oracles.h"
#include "own_reader.h"
#include "platform/text.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/recurrence.h"
#include "store/mapi/tags.h"
#include "temp_dir.h"
#include "third_party_kinds.h"

namespace parvelle::items::test {
namespace {

namespace fs = std::filesystem;
using mailbox::AggregateType;
using mapi::NamedProperty;

std::string fromUtf16le(const std::vector<std::uint8_t>& bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    return text::utf16ToUtf8(units);
}

NamedProperty address(std::uint32_t id) {
    return {mapi::psets::kAddress, id};
}
NamedProperty appointment(std::uint32_t id) {
    return {mapi::psets::kAppointment, id};
}
NamedProperty task(std::uint32_t id) {
    return {mapi::psets::kTask, id};
}
NamedProperty common(std::uint32_t id) {
    return {mapi::psets::kCommon, id};
}
NamedProperty note(std::uint32_t id) {
    return {mapi::psets::kNote, id};
}

// ---------------------------------------------------------------------------------------------
// The archive side

olmgen::Contact fullContact() {
    olmgen::Contact c;
    c.displayName = "Zoë Ångström";
    c.firstName = "Zoë";
    c.middleName = "Maria";
    c.lastName = "Ångström";
    c.nickName = "Zo";
    c.title = "Dr.";
    c.nameSuffix = "Jr.";
    c.company = "Nordljus AB";
    c.jobTitle = "Chief Ørnithologist";
    c.department = "Forskning";
    c.emails = {{"first@example.se", "0"},
                {"zoe@example.se", "0"},
                {"zoe.home@example.se", "1"},
                {"zoe.other@example.org", "2"},
                {"ignored@example.org", "7"}};
    c.imAddress = "zoe@chat.example.se";
    c.businessPhone = "+46 8 123 45 67";
    c.homePhone = "+46 8 222 22 22";
    c.cellPhone = "+46 70 765 43 21";
    c.businessFax = "+46 8 123 45 68";
    c.businessStreet = "Storgatan 1";
    c.businessCity = "Göteborg";
    c.businessState = "Västra Götaland";
    c.businessZip = "411 01";
    c.businessCountry = "Sverige";
    c.homeStreet = "Hemvägen 2";
    c.homeCity = "Mölndal";
    c.homeState = "VG";
    c.homeZip = "431 30";
    c.homeCountry = "Sverige";
    c.businessHomePage = "https://nordljus.example.se";
    c.birthday = "1985-05-04T00:00:00";
    c.anniversary = "2010-06-19T00:00:00";
    c.modDate = "2024-02-01T12:00:00";
    c.children = {"Åsa", "Lukas"};
    c.spouse = "Erik";
    c.notes = "Prefers e-mail;\nallergic to <nuts> 🥜.";
    c.overrides.extraElements = {
        {"OPFContactCopyAssistantPhone", "+46 8 100 00 01"},
        {"OPFContactCopyBusinessPhone2", "+46 8 100 00 02"},
        {"OPFContactCopyHomePhone2", "+46 8 100 00 03"},
        {"OPFContactCopyHomeFax", "+46 8 100 00 04"},
        {"OPFContactCopyHomeWebPage", "https://zoe.example.se"},
        {"OPFContactCopyInterests", "Birds, sailing"},
        {"OPFContactCopyOtherCity", "Visby"},
        {"OPFContactCopyOtherCountry", "Gotland"},
        {"OPFContactCopyOtherFax", "+46 8 100 00 05"},
        {"OPFContactCopyOtherPhone", "+46 8 100 00 06"},
        {"OPFContactCopyOtherState", "Gotlands län"},
        {"OPFContactCopyOtherStreetAddress", "Strandvägen 9"},
        {"OPFContactCopyOtherZip", "621 55"},
        {"OPFContactCopyPager", "+46 8 100 00 07"},
        {"OPFContactCopyRadioPhone", "+46 8 100 00 08"},
        {"OPFContactCopyBloodType", "AB"},
        {"OPFContactCopyAge", "38"},
        {"OPFContactMainPhone", "+46 8 100 00 09"},
    };
    return c;
}

olmgen::Contact bareContact() {
    olmgen::Contact c;
    c.firstName = "Nameless";
    c.birthday = "not a date";
    return c;
}

olmgen::Recurrence recurrence(std::string type, int interval, std::string start, std::string end,
                              int occurrences, std::vector<std::string> days, int dayOfMonth,
                              int month) {
    olmgen::Recurrence r;
    r.patternType = std::move(type);
    r.interval = interval;
    r.startDate = std::move(start);
    r.endDate = std::move(end);
    r.occurrences = occurrences;
    r.days = std::move(days);
    r.dayOfMonth = dayOfMonth;
    r.month = month;
    return r;
}

// The event's document with some of its generated text replaced, for archive forms the
// generator does not write itself.
olmgen::Event edited(olmgen::Event e,
                     std::initializer_list<std::pair<std::string, std::string>> replacements) {
    std::string xml = olmgen::eventElement(e);
    for (const auto& [from, to] : replacements) {
        const auto at = xml.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            xml.replace(at, from.size(), to);
    }
    e.overrides.rawXml = xml;
    return e;
}

olmgen::Event event(std::string summary, std::string start, std::string end,
                    std::optional<olmgen::Recurrence> r = std::nullopt) {
    olmgen::Event e;
    e.summary = std::move(summary);
    e.startTime = std::move(start);
    e.endTime = std::move(end);
    e.modDate = "2024-03-10T12:00:00";
    e.recurrence = std::move(r);
    return e;
}

std::vector<olmgen::Event> events() {
    std::vector<olmgen::Event> out;
    {
        olmgen::Event e =
            event("Daily stand-up ☕", "2024-03-18T08:00:00", "2024-03-18T08:15:00",
                  recurrence("Weekly", 1, "2024-03-18T00:00:00", "", 10,
                             {"monday", "tuesday", "wednesday", "thursday", "friday"}, 0, 0));
        e.organizer = "jane.doe@example.com";
        e.attendees = {{"Alice Archer", "alice@example.com", 1, 3, true},
                       {"Omar Odeh", "omar@example.sa", 1, 0, true},
                       {"Room Fjord", "room.fjord@example.com", 3, 3, false}};
        e.location = "Fjord (2. OG)";
        e.description = "<html><body><p>Stand-up: yesterday, today, blockers.</p></body></html>";
        e.hasReminder = true;
        out.push_back(std::move(e));
    }
    out.push_back(
        event("Every other day", "2024-04-02T13:30:00", "2024-04-02T14:00:00",
              recurrence("Daily", 2, "2024-04-02T00:00:00", "2024-04-30T00:00:00", 0, {}, 0, 0)));
    out.push_back(event("Rent 15th", "2024-01-15T09:00:00", "2024-01-15T09:30:00",
                        recurrence("Monthly", 1, "2024-01-15T00:00:00", "", 0, {}, 15, 0)));
    out.push_back(event("Zoë's birthday 🎂", "2024-05-04T00:00:00", "2024-05-05T00:00:00",
                        recurrence("Yearly", 1, "2024-05-04T00:00:00", "", 5, {}, 4, 5)));
    out.back().allDay = true;
    // An nth pattern without its week: Outlook would expand it into other days.
    out.push_back(event("Monthly review", "2024-01-31T14:00:00", "2024-01-31T15:30:00",
                        recurrence("MonthlyNth", 1, "2024-01-31T00:00:00", "", 12, {}, 31, 0)));
    {
        olmgen::Event e = event("عطلة — إجازة", "2024-04-10T00:00:00", "2024-04-11T00:00:00");
        e.allDay = true;
        e.isPrivate = true;
        e.organizer = "omar@example.sa";
        out.push_back(std::move(e));
    }
    {
        // A pattern on an event the archive does not call recurring.
        olmgen::Event e =
            event("Not a series", "2024-06-03T10:00:00", "2024-06-03T11:00:00",
                  recurrence("Weekly", 1, "2024-06-03T00:00:00", "", 4, {"monday"}, 0, 0));
        e.overrides.extraElements = {};
        e.overrides.omittedElements = {"OPFCalendarEventIsRecurring"};
        out.push_back(std::move(e));
    }
    // A count of 0 beside an end date: the series ends on that date (3 to 24 June, Mondays).
    out.push_back(edited(event("Until the 24th", "2024-06-03T10:00:00", "2024-06-03T11:00:00",
                               recurrence("Weekly", 1, "2024-06-03T00:00:00", "2024-06-24T00:00:00",
                                          0, {"monday"}, 0, 0)),
                         {{"<OPFRecurrenceHasEndDate ",
                           "<OPFRecurrenceGetOccurenceCount>0</OPFRecurrenceGetOccurenceCount>"
                           "<OPFRecurrenceHasEndDate "}}));
    // A series that has an end, but neither its count nor its date: no pattern.
    out.push_back(
        edited(event("End unknown", "2024-06-04T10:00:00", "2024-06-04T11:00:00",
                     recurrence("Weekly", 1, "2024-06-04T00:00:00", "", 0, {"tuesday"}, 0, 0)),
               {{"<OPFRecurrenceIsNoEnd xml:space=\"preserve\">1<",
                 "<OPFRecurrenceIsNoEnd xml:space=\"preserve\">0<"}}));
    // Daily on weekdays only: Outlook's daily pattern has no days, so no pattern.
    out.push_back(
        event("Weekday mornings", "2024-06-05T07:00:00", "2024-06-05T07:30:00",
              recurrence("Daily", 1, "2024-06-05T00:00:00", "", 5,
                         {"monday", "tuesday", "wednesday", "thursday", "friday"}, 0, 0)));
    // The days given by their group alone: Saturdays and Sundays, four times.
    out.push_back(edited(
        event("Weekend shifts", "2024-06-08T10:00:00", "2024-06-08T18:00:00",
              recurrence("Weekly", 1, "2024-06-08T00:00:00", "", 4, {"saturday", "sunday"}, 0, 0)),
        {{"<saturday xml:space=\"preserve\">1<", "<saturday xml:space=\"preserve\">0<"},
         {"<sunday xml:space=\"preserve\">1<", "<sunday xml:space=\"preserve\">0<"}}));
    return out;
}

std::vector<olmgen::Task> tasks() {
    std::vector<olmgen::Task> out;
    {
        olmgen::Task t;
        t.name = "Prepare Q2 plan — Überblick";
        t.note = "Include the 报告 numbers.";
        t.startDateTime = "2024-03-25T08:00:00";
        t.dueDateTime = "2024-03-29T23:30:00"; // 30 March, 00:30 local time
        t.reminderTime = "2024-03-28T09:00:00";
        t.modDate = "2024-03-20T10:00:00";
        t.priority = 2;
        out.push_back(std::move(t));
    }
    {
        olmgen::Task t;
        t.name = "Water the plants 🌱";
        t.priority = 4;
        t.recurrence = recurrence("Weekly", 2, "2024-03-02T00:00:00", "", 0, {"saturday"}, 0, 0);
        out.push_back(std::move(t));
    }
    {
        olmgen::Task t;
        t.name = "تقديم التقرير";
        t.completedDateTime = "2024-02-15T16:00:00";
        t.dueDateTime = "2024-02-15T12:00:00";
        t.priority = 1;
        out.push_back(std::move(t));
    }
    return out;
}

std::vector<olmgen::Note> notes() {
    return {{"Wi-Fi & door codes",
             "Guest Wi-Fi: <fjord-guest> / Tür: 4711\nSecond line",
             "2024-01-10T09:00:00",
             "2024-01-11T09:00:00",
             "1F2E3D4C-0001",
             {}},
            {"", "牛乳、パン、卵", "2024-03-02T18:30:00", "", "", {}}};
}

std::vector<olmgen::Group> groups() {
    return {{"Project Team ✨",
             {{"Alice Archer", "alice@example.com"},
              {"", "omar@example.sa"},
              {"No Address", ""},
              {"Zoë Ångström", "zoe@example.se"}},
             "Weekly sync group",
             "2024-02-05T09:00:00",
             {}},
            {"", {{"Papa", "papa@example.cn"}}, "", "", {}}};
}

template <typename T, typename F>
std::string aggregate(const char* root, const std::vector<T>& items, F element) {
    std::vector<std::string> elements;
    for (const T& item : items)
        elements.push_back(element(item));
    return olmgen::aggregateDocument(root, elements);
}

// ---------------------------------------------------------------------------------------------
// The converted store, built once for all tests

struct Converted {
    parvelle::testing::TempDir dir;
    fs::path pst;
    std::vector<std::string> logStatuses;
    OwnStore own;
    std::string ownError;
};

Converted& converted() {
    static std::unique_ptr<Converted> c = [] {
        // A zone with daylight saving, so that local and UTC times differ in both seasons.
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        auto out = std::make_unique<Converted>();
        out->pst = out->dir / "kinds.pst";
        Conversion conversion;
        {
            PstSession session(out->pst);
            conversion.run(aggregate("contacts", std::vector{fullContact(), bareContact()},
                                     olmgen::contactElement),
                           AggregateType::Contacts, "contact", &ReadContact,
                           session.folder("Contacts", "IPF.Contact"));
            conversion.run(aggregate("groups", groups(), olmgen::groupElement),
                           AggregateType::Groups, "group", &ReadGroup,
                           session.folder("Contacts", "IPF.Contact"));
            conversion.run(aggregate("appointments", events(), olmgen::eventElement),
                           AggregateType::Calendar, "appointment", &ReadEvent,
                           session.folder("Calendar", "IPF.Appointment"));
            conversion.run(aggregate("tasks", tasks(), olmgen::taskElement), AggregateType::Tasks,
                           "task", &ReadTask, session.folder("Tasks", "IPF.Task"));
            conversion.run(aggregate("notes", notes(), olmgen::noteElement), AggregateType::Notes,
                           "note", &ReadNote, session.folder("Notes", "IPF.StickyNote"));
            session.session.logOff();
        }
        for (const auto& row : conversion.state.log.rows())
            out->logStatuses.push_back(row.itemType + "|" + row.description + "|" + row.status);
        out->own = OwnStore::read(out->pst.string(), out->ownError);
        return out;
    }();
    return *c;
}

const OwnItem* findItem(const std::string& folder, std::uint16_t id, const std::string& value) {
    const OwnStore& s = converted().own;
    for (const OwnItem& item : s.items(folder))
        if (s.text(item, id) == value)
            return &item;
    return nullptr;
}

constexpr std::uint16_t kSubject = 0x0037;
constexpr std::uint16_t kMessageClass = 0x001A;
constexpr std::uint16_t kBody = 0x1000;

TEST(KindsToPst, EveryItemIsLoggedConvertedAndTheFileIsConsistent) {
    Converted& c = converted();
    ASSERT_EQ(c.ownError, "");
    EXPECT_EQ(pst::test::checkerViolations(c.pst.string()), "");
    for (const std::string& status : c.logStatuses)
        EXPECT_TRUE(status.ends_with("|Converted")) << status;
    const std::pair<const char*, std::size_t> counts[] = {
        {"Contacts", 4}, {"Calendar", 11}, {"Tasks", 3}, {"Notes", 2}};
    for (const auto& [folder, count] : counts)
        EXPECT_EQ(c.own.items(folder).size(), count) << folder;
    EXPECT_EQ(c.own.containerClass("Calendar"), "IPF.Appointment");
}

// ---------------------------------------------------------------------------------------------
// Contacts

struct ContactField {
    std::optional<std::uint16_t> tag;
    std::optional<NamedProperty> named;
    std::string value;
};

std::vector<ContactField> contactFields() {
    const auto t = [](std::uint16_t id, std::string v) {
        return ContactField{id, std::nullopt, std::move(v)};
    };
    const auto n = [](std::uint32_t id, std::string v) {
        return ContactField{std::nullopt, address(id), std::move(v)};
    };
    return {
        t(0x3A2E, "+46 8 100 00 01"),
        n(0x8046, "Göteborg"),
        t(0x3A27, "Göteborg"),
        n(0x8049, "Sverige"),
        t(0x3A24, "+46 8 123 45 68"),
        t(0x3A51, "https://nordljus.example.se"),
        t(0x3A08, "+46 8 123 45 67"),
        t(0x3A1B, "+46 8 100 00 02"),
        n(0x8048, "411 01"),
        t(0x3A2A, "411 01"),
        n(0x8047, "Västra Götaland"),
        t(0x3A28, "Västra Götaland"),
        n(0x8045, "Storgatan 1"),
        t(0x3A29, "Storgatan 1"),
        t(0x3A45, "Dr."),
        t(0x3A16, "Nordljus AB"),
        n(0x8083, "zoe@example.se"),
        n(0x8093, "zoe.home@example.se"),
        n(0x80A3, "zoe.other@example.org"),
        n(0x802B, "https://zoe.example.se"),
        t(0x3A18, "Forskning"),
        t(0x3A06, "Zoë"),
        t(0x3A43, "Birds, sailing"),
        t(0x3A59, "Mölndal"),
        t(0x3A5A, "Sverige"),
        t(0x3A25, "+46 8 100 00 04"),
        t(0x3A09, "+46 8 222 22 22"),
        t(0x3A2F, "+46 8 100 00 03"),
        t(0x3A5B, "431 30"),
        t(0x3A5C, "VG"),
        t(0x3A5D, "Hemvägen 2"),
        n(0x8062, "zoe@chat.example.se"),
        t(0x3A17, "Chief Ørnithologist"),
        t(0x3A44, "Maria"),
        t(0x3A1C, "+46 70 765 43 21"),
        t(0x3A4F, "Zo"),
        t(0x3A23, "+46 8 100 00 05"),
        t(0x3A5F, "Visby"),
        t(0x3A60, "Gotland"),
        t(0x3A1F, "+46 8 100 00 06"),
        t(0x3A62, "Gotlands län"),
        t(0x3A63, "Strandvägen 9"),
        t(0x3A61, "621 55"),
        t(0x3A21, "+46 8 100 00 07"),
        t(0x3A1A, "+46 8 100 00 09"),
        t(0x3A1D, "+46 8 100 00 08"),
        t(0x3A48, "Erik"),
        t(0x3A05, "Jr."),
        t(0x3A11, "Ångström"),
        t(kSubject, "Zoë Ångström"),
        t(0x3001, "Zoë Ångström"),
        n(0x8005, "Ångström, Zoë"),
        t(0x3A0A, "Z.M.Å."),
        n(0x8082, "SMTP"),
        n(0x8080, "Zoë Ångström (zoe@example.se)"),
        // The fax numbers as FAX entries: business (Fax2), home (Fax3) and primary (Fax1).
        n(0x80C2, "FAX"),
        n(0x80C3, "Zoë Ångström@+46 8 123 45 68"),
        n(0x80C4, "Zoë Ångström"),
        n(0x80D3, "Zoë Ångström@+46 8 100 00 04"),
        n(0x80B3, "Zoë Ångström@+46 8 100 00 05"),
    };
}

TEST(KindsToPst, ContactFieldsArriveInOurReader) {
    const OwnStore& s = converted().own;
    const OwnItem* c = findItem("Contacts", kSubject, "Zoë Ångström");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(s.text(*c, kMessageClass), "IPM.Contact");
    for (const ContactField& f : contactFields()) {
        const std::string seen = f.tag ? s.text(*c, *f.tag) : s.text(*c, *f.named);
        EXPECT_EQ(seen, f.value) << std::hex
                                 << (f.tag ? *f.tag : std::get<std::uint32_t>(f.named->name));
    }
    const auto children = s.multi(*c, 0x3A58);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(fromUtf16le(children[0]), "Åsa");
    // The birthday keeps the archive's instant; the anniversary is a calendar date whose text is
    // taken as local midnight (Europe/Berlin, summer time).
    EXPECT_EQ(s.time(*c, 0x3A42), "1985-05-04T00:00:00Z");
    EXPECT_EQ(s.time(*c, 0x3A41), "2010-06-18T22:00:00Z");
    EXPECT_EQ(s.time(*c, 0x0E06), "2024-02-01T12:00:00Z");
    EXPECT_EQ(s.text(*c, kBody), "Prefers e-mail;\nallergic to <nuts> 🥜.");
    // Three e-mail addresses and three faxes, listed in the order of their slots.
    const auto listId = s.namedId(address(0x8028));
    ASSERT_TRUE(listId);
    std::vector<std::uint32_t> listed;
    if (const auto list = c->props.find(*listId); list != c->props.end()) {
        const std::vector<std::uint8_t>& d = list->second.data; // 32-bit values, no count
        for (std::size_t at = 0; at + 4 <= d.size(); at += 4)
            listed.push_back(d[at] | d[at + 1] << 8 | d[at + 2] << 16 |
                             static_cast<std::uint32_t>(d[at + 3]) << 24);
    }
    EXPECT_EQ(listed, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(s.integer(*c, address(0x8029)).value_or(0), 0x3F);
    const auto entryId = s.binary(*c, address(0x8085));
    ASSERT_TRUE(entryId);
    EXPECT_EQ(*entryId,
              mapi::oneOffEntryId("Zoë Ångström (zoe@example.se)", "SMTP", "zoe@example.se"));
}

TEST(KindsToPst, ContactWithoutNameOrValidBirthday) {
    const OwnStore& s = converted().own;
    const OwnItem* c = findItem("Contacts", 0x3A06, "Nameless");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(s.time(*c, 0x3A42), "");
    EXPECT_EQ(s.text(*c, 0x3001), "Nameless");
}

// ---------------------------------------------------------------------------------------------
// Groups

std::vector<std::string> members(const OwnItem& item) {
    const OwnStore& s = converted().own;
    std::vector<std::string> out;
    const auto id = s.namedId(address(0x8055));
    if (!id)
        return out;
    for (const auto& entry : s.multi(item, *id)) {
        // A one-off entry id: 24 header bytes, then name, type and address in UTF-16LE.
        const std::string strings =
            fromUtf16le(std::vector<std::uint8_t>(entry.begin() + 24, entry.end()));
        const auto first = strings.find('\0');
        const auto second = strings.find('\0', first + 1);
        const auto third = strings.find('\0', second + 1);
        out.push_back(strings.substr(0, first) + " <" +
                      strings.substr(second + 1, third - second - 1) + ">");
    }
    return out;
}

TEST(KindsToPst, GroupMembersArriveInOrderAndAddresslessOnesAreLeftOut) {
    const OwnStore& s = converted().own;
    const OwnItem* g = findItem("Contacts", kSubject, "Project Team ✨");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(s.text(*g, kMessageClass), "IPM.DistList");
    EXPECT_EQ(s.text(*g, address(0x8053)), "Project Team ✨");
    EXPECT_EQ(members(*g), (std::vector<std::string>{"Alice Archer <alice@example.com>",
                                                     "omar@example.sa <omar@example.sa>",
                                                     "Zoë Ångström <zoe@example.se>"}));
    EXPECT_EQ(s.text(*g, kBody), "Weekly sync group");
    const auto id = s.namedId(address(0x8054));
    ASSERT_TRUE(id);
    EXPECT_EQ(s.multi(*g, *id).size(), 3u);
    EXPECT_TRUE(s.integer(*g, address(0x804C)).has_value());
}

TEST(KindsToPst, GroupWithoutNameKeepsItsMember) {
    const OwnStore& s = converted().own;
    const OwnItem* g = nullptr;
    for (const OwnItem& item : s.items("Contacts"))
        if (s.text(item, kMessageClass) == "IPM.DistList" && s.text(item, kSubject).empty())
            g = &item;
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(members(*g), std::vector<std::string>{"Papa <papa@example.cn>"});
}

// ---------------------------------------------------------------------------------------------
// Events

struct ExpectedEvent {
    std::string summary;
    std::string start, end; // UTC
    int recurrenceType;     // PidLidRecurrenceType, 0 for none
    std::string clipStart, clipEnd;
};

const ExpectedEvent kEvents[] = {
    // Mondays to Fridays, ten times: 18 March to 29 March; local midnight is 23:00 UTC.
    {"Daily stand-up ☕", "2024-03-18T08:00:00Z", "2024-03-18T08:15:00Z", 2, "2024-03-17T23:00:00Z",
     "2024-03-28T23:00:00Z"},
    // Every other day until 30 April (summer time from 31 March): the last one on 30 April.
    {"Every other day", "2024-04-02T13:30:00Z", "2024-04-02T14:00:00Z", 1, "2024-04-01T22:00:00Z",
     "2024-04-29T22:00:00Z"},
    {"Rent 15th", "2024-01-15T09:00:00Z", "2024-01-15T09:30:00Z", 3, "2024-01-14T23:00:00Z",
     "4500-08-31T23:59:00Z"},
    // An all-day event keeps its times, without rounding; five yearly occurrences to 2028.
    {"Zoë's birthday 🎂", "2024-05-04T00:00:00Z", "2024-05-05T00:00:00Z", 4, "2024-05-03T22:00:00Z",
     "2028-05-03T22:00:00Z"},
    {"Monthly review", "2024-01-31T14:00:00Z", "2024-01-31T15:30:00Z", 0, "2024-01-31T14:00:00Z",
     "2024-01-31T15:30:00Z"},
    {"عطلة — إجازة", "2024-04-10T00:00:00Z", "2024-04-11T00:00:00Z", 0, "2024-04-10T00:00:00Z",
     "2024-04-11T00:00:00Z"},
    {"Not a series", "2024-06-03T10:00:00Z", "2024-06-03T11:00:00Z", 0, "2024-06-03T10:00:00Z",
     "2024-06-03T11:00:00Z"},
    {"Until the 24th", "2024-06-03T10:00:00Z", "2024-06-03T11:00:00Z", 2, "2024-06-02T22:00:00Z",
     "2024-06-23T22:00:00Z"},
    {"End unknown", "2024-06-04T10:00:00Z", "2024-06-04T11:00:00Z", 0, "2024-06-04T10:00:00Z",
     "2024-06-04T11:00:00Z"},
    {"Weekday mornings", "2024-06-05T07:00:00Z", "2024-06-05T07:30:00Z", 0, "2024-06-05T07:00:00Z",
     "2024-06-05T07:30:00Z"},
    {"Weekend shifts", "2024-06-08T10:00:00Z", "2024-06-08T18:00:00Z", 2, "2024-06-07T22:00:00Z",
     "2024-06-15T22:00:00Z"},
};

TEST(KindsToPst, EventTimesAndRecurrenceArriveInOurReader) {
    const OwnStore& s = converted().own;
    for (const ExpectedEvent& e : kEvents) {
        SCOPED_TRACE(e.summary);
        const OwnItem* item = findItem("Calendar", kSubject, e.summary);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(s.text(*item, kMessageClass), "IPM.Appointment");
        EXPECT_EQ(s.time(*item, appointment(0x820D)), e.start);
        EXPECT_EQ(s.time(*item, appointment(0x820E)), e.end);
        EXPECT_EQ(s.time(*item, common(0x8516)), e.start);
        EXPECT_EQ(s.time(*item, common(0x8517)), e.end);
        EXPECT_EQ(s.integer(*item, appointment(0x8231)).value_or(-1), e.recurrenceType);
        EXPECT_EQ(s.integer(*item, appointment(0x8223)).value_or(-1), e.recurrenceType != 0);
        EXPECT_EQ(s.binary(*item, appointment(0x8216)).has_value(), e.recurrenceType != 0);
        // A series records the zone its local times are in (Europe/Berlin's rule, as a genuine
        // Outlook file in Paris has it); a single event records none.
        const auto zone = s.binary(*item, appointment(0x8233));
        EXPECT_EQ(zone.has_value(), e.recurrenceType != 0);
        if (zone) {
            EXPECT_EQ(*zone,
                      (std::vector<std::uint8_t>{
                          0xc4, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0xc4, 0xff, 0xff, 0xff, 0, 0, 0, 0,
                          10,   0,    0,    0,    5, 0, 3, 0, 0,    0,    0,    0,    0, 0, 0, 0,
                          0,    0,    3,    0,    0, 0, 5, 0, 2,    0,    0,    0,    0, 0, 0, 0}));
        }
        EXPECT_EQ(s.time(*item, appointment(0x8235)), e.clipStart);
        EXPECT_EQ(s.time(*item, appointment(0x8236)), e.clipEnd);
        EXPECT_EQ(s.time(*item, 0x0E06), "2024-03-10T12:00:00Z");
    }
}

TEST(KindsToPst, EventPeopleAndFlagsArriveInOurReader) {
    const OwnStore& s = converted().own;
    const OwnItem* standUp = findItem("Calendar", kSubject, "Daily stand-up ☕");
    ASSERT_NE(standUp, nullptr);
    std::vector<std::string> people;
    for (const auto& r : standUp->recipients)
        people.push_back(pst::stringProp(r, 0x3003).value_or("") + "/" +
                         std::to_string(pst::integerProp(r, 0x0C15).value_or(-1)));
    EXPECT_EQ(people, (std::vector<std::string>{"alice@example.com/1", "omar@example.sa/1",
                                                "room.fjord@example.com/1"}));
    EXPECT_EQ(s.text(*standUp, 0x0065), "jane.doe@example.com"); // the organizer
    EXPECT_EQ(s.text(*standUp, appointment(0x8208)), "Fjord (2. OG)");
    EXPECT_EQ(s.integer(*standUp, common(0x8503)).value_or(0), 1);
    EXPECT_EQ(s.time(*standUp, common(0x8560)), "2024-03-18T07:45:00Z");
    EXPECT_EQ(s.integer(*standUp, appointment(0x8213)).value_or(0), 15);
    EXPECT_EQ(s.text(*standUp, appointment(0x8238)), "Alice Archer; Omar Odeh; Room Fjord");

    const OwnItem* holiday = findItem("Calendar", kSubject, "عطلة — إجازة");
    ASSERT_NE(holiday, nullptr);
    EXPECT_EQ(s.integer(*holiday, appointment(0x8215)).value_or(0), 1);
    EXPECT_EQ(s.integer(*holiday, common(0x8506)).value_or(0), 1);
    EXPECT_EQ(pst::integerProp(holiday->props, 0x0036).value_or(0), 2);
}

TEST(KindsToPst, RecurrenceBlobDescribesTheSeries) {
    const OwnStore& s = converted().own;
    const OwnItem* standUp = findItem("Calendar", kSubject, "Daily stand-up ☕");
    ASSERT_NE(standUp, nullptr);
    const auto blob = s.binary(*standUp, appointment(0x8216));
    ASSERT_TRUE(blob);
    const auto u16 = [&](std::size_t at) { return (*blob)[at] | (*blob)[at + 1] << 8; };
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(u16(at) | u16(at + 2) << 16);
    };
    EXPECT_EQ(u16(4), 0x200B);   // weekly
    EXPECT_EQ(u16(6), 1);        // week pattern
    EXPECT_EQ(u32(14), 1u);      // every week
    EXPECT_EQ(u32(22), 0x3Eu);   // Monday to Friday
    EXPECT_EQ(u32(26), 0x2022u); // ends after a count
    EXPECT_EQ(u32(30), 10u);
    const auto minutes = [](int y, int m, int d) {
        return static_cast<std::uint32_t>(mapi::daysFrom1601({y, m, d}) * 1440);
    };
    EXPECT_EQ(u32(46), minutes(2024, 3, 18)); // first occurrence
    EXPECT_EQ(u32(50), minutes(2024, 3, 29)); // last occurrence
    EXPECT_EQ(u32(62), 9u * 60);              // 08:00 UTC is 09:00 local time in March
    EXPECT_EQ(u32(66), 9u * 60 + 15);
}

// ---------------------------------------------------------------------------------------------
// Tasks and notes

TEST(KindsToPst, TaskDatesStatusAndImportanceArriveInOurReader) {
    const OwnStore& s = converted().own;
    const OwnItem* plan = findItem("Tasks", kSubject, "Prepare Q2 plan — Überblick");
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(s.text(*plan, kMessageClass), "IPM.Task");
    // Task dates are local days: start and due as midnight written as if UTC, their common
    // start and end that midnight in UTC.
    EXPECT_EQ(s.time(*plan, task(0x8104)), "2024-03-25T00:00:00Z");
    EXPECT_EQ(s.time(*plan, task(0x8105)), "2024-03-30T00:00:00Z");
    EXPECT_EQ(s.time(*plan, common(0x8516)), "2024-03-24T23:00:00Z");
    EXPECT_EQ(s.time(*plan, common(0x8517)), "2024-03-29T23:00:00Z");
    EXPECT_EQ(s.time(*plan, common(0x8502)), "2024-03-28T09:00:00Z");
    EXPECT_EQ(pst::integerProp(plan->props, 0x0017).value_or(-1), 2);
    EXPECT_EQ(s.integer(*plan, task(0x8101)).value_or(-1), 0);
    EXPECT_EQ(s.integer(*plan, appointment(0x8231)).value_or(-1), 0);
    EXPECT_EQ(s.text(*plan, kBody), "Include the 报告 numbers.");

    const OwnItem* plants = findItem("Tasks", kSubject, "Water the plants 🌱");
    ASSERT_NE(plants, nullptr);
    EXPECT_EQ(pst::integerProp(plants->props, 0x0017).value_or(-1), 0);
    EXPECT_FALSE(s.integer(*plants, appointment(0x8231)).has_value());

    const OwnItem* done = findItem("Tasks", kSubject, "تقديم التقرير");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(s.time(*done, task(0x810F)), "2024-02-14T23:00:00Z"); // local midnight
    EXPECT_EQ(s.integer(*done, task(0x8101)).value_or(-1), 2);
    EXPECT_EQ(s.integer(*done, task(0x811C)).value_or(0), 1);
    EXPECT_EQ(pst::integerProp(done->props, 0x0017).value_or(-1), 1); // untouched: normal
}

TEST(KindsToPst, NotesKeepTheirTextAsPlainText) {
    const OwnStore& s = converted().own;
    const OwnItem* codes = findItem("Notes", kSubject, "Wi-Fi & door codes");
    ASSERT_NE(codes, nullptr);
    EXPECT_EQ(s.text(*codes, kMessageClass), "IPM.StickyNote");
    EXPECT_EQ(s.text(*codes, kBody), "Guest Wi-Fi: <fjord-guest> / Tür: 4711\nSecond line");
    EXPECT_EQ(s.integer(*codes, note(0x8B00)).value_or(-1), 3);
    const OwnItem* untitled = findItem("Notes", kSubject, "Unknown");
    ASSERT_NE(untitled, nullptr);
    EXPECT_EQ(s.text(*untitled, kBody), "牛乳、パン、卵");
}

// ---------------------------------------------------------------------------------------------
// Third-party readers

TEST(KindsToPst, PstExtractorReadsEveryField) {
    const auto seen = readKindsWithPstExtractor(converted().pst.string());
    if (seen.skipped)
        GTEST_SKIP() << "pst-extractor is not installed";
    ASSERT_EQ(seen.error, "");
    const auto find = [&](const std::string& folder, const std::string& subject) {
        return seen.item(folder, subject);
    };
    const auto* contact = find("Contacts", "Zoë Ångström");
    ASSERT_NE(contact, nullptr);
    const std::pair<const char*, const char*> contactValues[] = {
        {"givenName", "Zoë"},
        {"surname", "Ångström"},
        {"middleName", "Maria"},
        {"nickname", "Zo"},
        {"displayNamePrefix", "Dr."},
        {"generation", "Jr."},
        {"companyName", "Nordljus AB"},
        {"title", "Chief Ørnithologist"},
        {"departmentName", "Forskning"},
        {"email1EmailAddress", "zoe@example.se"},
        {"email2EmailAddress", "zoe.home@example.se"},
        {"email3EmailAddress", "zoe.other@example.org"},
        {"instantMessagingAddress", "zoe@chat.example.se"},
        {"businessTelephoneNumber", "+46 8 123 45 67"},
        {"business2TelephoneNumber", "+46 8 100 00 02"},
        {"homeTelephoneNumber", "+46 8 222 22 22"},
        {"home2TelephoneNumber", "+46 8 100 00 03"},
        {"mobileTelephoneNumber", "+46 70 765 43 21"},
        {"businessFaxNumber", "+46 8 123 45 68"},
        {"homeFaxNumber", "+46 8 100 00 04"},
        {"primaryFaxNumber", "+46 8 100 00 05"},
        {"otherTelephoneNumber", "+46 8 100 00 06"},
        {"pagerTelephoneNumber", "+46 8 100 00 07"},
        {"primaryTelephoneNumber", "+46 8 100 00 09"},
        {"radioTelephoneNumber", "+46 8 100 00 08"},
        {"assistantTelephoneNumber", "+46 8 100 00 01"},
        {"workAddressStreet", "Storgatan 1"},
        {"workAddressCity", "Göteborg"},
        {"workAddressState", "Västra Götaland"},
        {"workAddressPostalCode", "411 01"},
        {"workAddressCountry", "Sverige"},
        {"homeAddressStreet", "Hemvägen 2"},
        {"homeAddressCity", "Mölndal"},
        {"homeAddressStateOrProvince", "VG"},
        {"homeAddressPostalCode", "431 30"},
        {"homeAddressCountry", "Sverige"},
        {"otherAddressStreet", "Strandvägen 9"},
        {"otherAddressCity", "Visby"},
        {"otherAddressStateOrProvince", "Gotlands län"},
        {"otherAddressPostalCode", "621 55"},
        // otherAddressCountry is left out: pst-extractor reads the city for it.
        {"businessHomePage", "https://nordljus.example.se"},
        {"html", "https://zoe.example.se"},
        {"hobbies", "Birds, sailing"},
        {"spouseName", "Erik"},
        {"birthday", "1985-05-04T00:00:00.000Z"},
        {"anniversary", "2010-06-18T22:00:00.000Z"},
        {"fileUnder", "Ångström, Zoë"},
        {"email1AddressType", "SMTP"},
        {"email1DisplayName", "Zoë Ångström (zoe@example.se)"},
        // childrensNames is left out: pst-extractor returns the multi-valued property's raw bytes.
        {"body", "Prefers e-mail;\nallergic to <nuts> 🥜."},
    };
    for (const auto& [field, value] : contactValues)
        EXPECT_EQ(contact->field(field), value) << field;

    const auto* standUp = find("Calendar", "Daily stand-up ☕");
    ASSERT_NE(standUp, nullptr);
    const std::pair<const char*, const char*> eventValues[] = {
        {"location", "Fjord (2. OG)"},
        {"startTime", "2024-03-18T08:00:00.000Z"},
        {"endTime", "2024-03-18T08:15:00.000Z"},
        {"duration", "15"},
        {"isRecurring", "true"},
        {"recurrenceType", "2"},
        {"recurFrequency", "8203"},
        {"patternType", "1"},
        {"period", "1"},
        {"patternTypeSpecific", "[false,true,true,true,true,true,false]"},
        {"endType", "8226"},
        {"occurrenceCount", "10"},
        // pst-extractor takes the series' first and last day from the end of the blob, where an
        // appointment's blob keeps its exception blocks; our reader checks them instead.
        {"reminderSet", "true"},
        {"reminderDelta", "15"},
        {"busyStatus", "2"},
        {"allAttendees", "Alice Archer; Omar Odeh; Room Fjord"},
        {"sensitivity", "0"},
        {"sentRepresentingEmailAddress", "jane.doe@example.com"},
        {"recipient0", "1 alice@example.com"},
        {"recipient1", "1 omar@example.sa"},
        {"recipient2", "1 room.fjord@example.com"},
    };
    for (const auto& [field, value] : eventValues)
        EXPECT_EQ(standUp->field(field), value) << field;
    // Every event's times and series as the blob gives them: frequency (daily 0x200A ...
    // yearly 0x200D), pattern type (0 day, 1 week, 2 month), period (minutes for a daily
    // series, else weeks or months), the days, the end (0x2021 by date, 0x2022 after a count,
    // 0x2023 never; a series without end counts 10) and the count.
    struct SeriesSeen {
        const char* summary;
        const char* start;
        const char* end;
        const char* subType; // all day
        const char* recurrenceType;
        // The series' blob fields; none for a single event.
        const char* frequency = "";
        const char* patternType = "";
        const char* period = "";
        const char* days = "";
        const char* endType = "";
        const char* count = "";
    };
    const SeriesSeen series[] = {
        {"Daily stand-up ☕", "2024-03-18T08:00:00.000Z", "2024-03-18T08:15:00.000Z", "false", "2",
         "8203", "1", "1", "[false,true,true,true,true,true,false]", "8226", "10"},
        {"Every other day", "2024-04-02T13:30:00.000Z", "2024-04-02T14:00:00.000Z", "false", "1",
         "8202", "0", "2880", "null", "8225", "15"},
        {"Rent 15th", "2024-01-15T09:00:00.000Z", "2024-01-15T09:30:00.000Z", "false", "3", "8204",
         "2", "1", "15", "8227", "10"},
        {"Zoë's birthday 🎂", "2024-05-04T00:00:00.000Z", "2024-05-05T00:00:00.000Z", "true", "4",
         "8205", "2", "12", "4", "8226", "5"},
        {"Monthly review", "2024-01-31T14:00:00.000Z", "2024-01-31T15:30:00.000Z", "false", "0"},
        {"عطلة — إجازة", "2024-04-10T00:00:00.000Z", "2024-04-11T00:00:00.000Z", "true", "0"},
        {"Not a series", "2024-06-03T10:00:00.000Z", "2024-06-03T11:00:00.000Z", "false", "0"},
        {"Until the 24th", "2024-06-03T10:00:00.000Z", "2024-06-03T11:00:00.000Z", "false", "2",
         "8203", "1", "1", "[false,true,false,false,false,false,false]", "8225", "4"},
        {"End unknown", "2024-06-04T10:00:00.000Z", "2024-06-04T11:00:00.000Z", "false", "0"},
        {"Weekday mornings", "2024-06-05T07:00:00.000Z", "2024-06-05T07:30:00.000Z", "false", "0"},
        {"Weekend shifts", "2024-06-08T10:00:00.000Z", "2024-06-08T18:00:00.000Z", "false", "2",
         "8203", "1", "1", "[true,false,false,false,false,false,true]", "8226", "4"},
    };
    for (const SeriesSeen& e : series) {
        SCOPED_TRACE(e.summary);
        const auto* item = find("Calendar", e.summary);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->field("startTime"), e.start);
        EXPECT_EQ(item->field("endTime"), e.end);
        EXPECT_EQ(item->field("subType"), e.subType);
        EXPECT_EQ(item->field("recurrenceType"), e.recurrenceType);
        const bool recurring = std::string(e.recurrenceType) != "0";
        EXPECT_EQ(item->field("isRecurring"), recurring ? "true" : "false");
        if (!recurring) {
            EXPECT_EQ(item->field("recurFrequency"), "");
            continue;
        }
        EXPECT_EQ(item->field("recurFrequency"), e.frequency);
        EXPECT_EQ(item->field("patternType"), e.patternType);
        EXPECT_EQ(item->field("period"), e.period);
        EXPECT_EQ(item->field("patternTypeSpecific"), e.days);
        EXPECT_EQ(item->field("endType"), e.endType);
        EXPECT_EQ(item->field("occurrenceCount"), e.count);
    }

    // Task dates are local days (Europe/Berlin): start and due at midnight as if UTC, the
    // completion at local midnight in UTC.
    const auto* plan = find("Tasks", "Prepare Q2 plan — Überblick");
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(plan->field("taskStartDate"), "2024-03-25T00:00:00.000Z");
    EXPECT_EQ(plan->field("taskDueDate"), "2024-03-30T00:00:00.000Z");
    EXPECT_EQ(plan->field("importance"), "2");
    EXPECT_EQ(plan->field("taskStatus"), "0");
    EXPECT_EQ(plan->field("isTaskComplete"), "false");
    EXPECT_EQ(plan->field("body"), "Include the 报告 numbers.");
    const auto* plants = find("Tasks", "Water the plants 🌱");
    ASSERT_NE(plants, nullptr);
    EXPECT_EQ(plants->field("importance"), "0");
    EXPECT_EQ(plants->field("isTaskRecurring"), "false");
    const auto* done = find("Tasks", "تقديم التقرير");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->field("taskDateCompleted"), "2024-02-14T23:00:00.000Z");
    EXPECT_EQ(done->field("isTaskComplete"), "true");
    EXPECT_EQ(done->field("taskStatus"), "2");
    EXPECT_EQ(done->field("importance"), "1");

    const auto* group = find("Contacts", "Project Team ✨");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->field("member0"), "Alice Archer <alice@example.com>");
    EXPECT_EQ(group->field("member1"), "omar@example.sa <omar@example.sa>");
    EXPECT_EQ(group->field("member2"), "Zoë Ångström <zoe@example.se>");
    EXPECT_EQ(group->field("member3"), "");
    const auto* unnamed = find("Contacts", "");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->field("member0"), "Papa <papa@example.cn>");
    const auto* holiday = find("Calendar", "عطلة — إجازة");
    ASSERT_NE(holiday, nullptr);
    EXPECT_EQ(holiday->field("sensitivity"), "2"); // private

    const auto* codes = find("Notes", "Wi-Fi & door codes");
    ASSERT_NE(codes, nullptr);
    EXPECT_EQ(codes->field("messageClass"), "IPM.StickyNote");
    EXPECT_EQ(codes->field("body"), "Guest Wi-Fi: <fjord-guest> / Tür: 4711\nSecond line");
    const auto* untitled = find("Notes", "Unknown");
    ASSERT_NE(untitled, nullptr);
    EXPECT_EQ(untitled->field("body"), "牛乳、パン、卵");
}

std::string describe(const KindItem& item) {
    std::string out;
    for (const auto& [name, value] : item.fields)
        out += name + " = " + value + "\n";
    return out;
}

// Every value shows up in one of the item's fields.
void expectValues(const KindItem* item, std::initializer_list<std::string> values) {
    ASSERT_NE(item, nullptr);
    for (const std::string& value : values) {
        bool found = false;
        for (const auto& [name, field] : item->fields)
            found = found || field.find(value) != std::string::npos;
        EXPECT_TRUE(found) << value << " not among\n" << describe(*item);
    }
}

// readpst writes contacts as vCards (named by their file-as name) and appointments as iCalendar
// events; it skips tasks, notes and lists, and writes no attendees for an appointment.
TEST(KindsToPst, ReadpstReadsContactsAndEvents) {
    const auto seen = readKindsWithReadpst(converted().pst.string(), converted().dir.path());
    if (seen.skipped)
        GTEST_SKIP() << "readpst is not installed";
    ASSERT_EQ(seen.error, "");
    expectValues(seen.item("Contacts", "Ångström\\, Zoë"),
                 {"Ångström;Zoë;Maria;Dr.;Jr.",
                  "zoe@example.se",
                  "zoe.home@example.se",
                  "zoe.other@example.org",
                  "1985-05-04T00:00:00Z",
                  "Nordljus AB",
                  "Chief Ørnithologist",
                  "Zo",
                  "+46 8 123 45 68",
                  "+46 8 123 45 67",
                  "+46 8 100 00 01",
                  "+46 8 100 00 02",
                  "+46 8 100 00 03",
                  "+46 8 100 00 04",
                  "+46 8 100 00 05",
                  "+46 8 100 00 06",
                  "+46 8 100 00 07",
                  "+46 8 100 00 08",
                  "+46 8 100 00 09",
                  "+46 8 222 22 22",
                  "+46 70 765 43 21",
                  ";;Hemvägen 2;Mölndal;VG;431 30;Sverige",
                  ";;Storgatan 1;Göteborg;Västra Götaland;411 01;Sverige",
                  ";;Strandvägen 9;Visby;Gotlands län;621 55;Gotland",
                  "allergic to <nuts>"});
    struct Expected {
        const char* summary;
        const char* start;
        const char* end;
        const char* rule;
    };
    const Expected expected[] = {
        {"Daily stand-up ☕", "20240318T080000Z", "20240318T081500Z",
         "FREQ=WEEKLY;COUNT=10;BYDAY=MO;TU;WE;TH;FR"},
        {"Every other day", "20240402T133000Z", "20240402T140000Z",
         "FREQ=DAILY;COUNT=15;INTERVAL=2"},
        {"Rent 15th", "20240115T090000Z", "20240115T093000Z", "FREQ=MONTHLY;BYMONTHDAY=15"},
        {"Zoë's birthday 🎂", "20240504T000000Z", "20240505T000000Z",
         "FREQ=YEARLY;COUNT=5;BYMONTHDAY=4;BYMONTH=5"},
        {"Monthly review", "20240131T140000Z", "20240131T153000Z", ""},
        {"عطلة — إجازة", "20240410T000000Z", "20240411T000000Z", ""},
        {"Not a series", "20240603T100000Z", "20240603T110000Z", ""},
        {"Until the 24th", "20240603T100000Z", "20240603T110000Z", "FREQ=WEEKLY;COUNT=4;BYDAY=MO"},
        {"End unknown", "20240604T100000Z", "20240604T110000Z", ""},
        {"Weekday mornings", "20240605T070000Z", "20240605T073000Z", ""},
        {"Weekend shifts", "20240608T100000Z", "20240608T180000Z",
         "FREQ=WEEKLY;COUNT=4;BYDAY=SU;SA"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.summary);
        const KindItem* item = seen.item("Calendar", e.summary);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->field("DTSTART"), e.start);
        EXPECT_EQ(item->field("DTEND"), e.end);
        EXPECT_EQ(item->field("RRULE"), e.rule);
    }
    expectValues(seen.item("Calendar", "Daily stand-up ☕"), {"Fjord (2. OG)", "blockers."});
}

// The text without its characters outside the Basic Multilingual Plane, which pffexport decodes
// wrongly (🎂 comes out as another code point).
std::string withoutAstral(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0xF0)
            i += 3;
        else
            out += text[i];
    }
    return out;
}

TEST(KindsToPst, PffexportReadsEveryKind) {
    const auto seen = readKindsWithPffexport(converted().pst.string(), converted().dir.path());
    if (seen.skipped)
        GTEST_SKIP() << "pffexport is not installed";
    ASSERT_EQ(seen.error, "");
    const auto* contact = seen.item("Contacts", "Zoë Ångström");
    ASSERT_NE(contact, nullptr);
    const std::pair<const char*, const char*> contactValues[] = {
        {"Contact.txt:Given name", "Zoë"},
        {"Contact.txt:Surname", "Ångström"},
        {"Contact.txt:Generational abbreviation", "Jr."},
        {"Contact.txt:Company name", "Nordljus AB"},
        {"Contact.txt:Department name", "Forskning"},
        {"Contact.txt:Job title", "Chief Ørnithologist"},
        {"Contact.txt:Email address 1", "zoe@example.se"},
        {"Contact.txt:Email address 2", "zoe.home@example.se"},
        {"Contact.txt:Email address 3", "zoe.other@example.org"},
        {"Contact.txt:File under", "Ångström, Zoë"},
        {"Contact.txt:Business phone number 1", "+46 8 123 45 67"},
        {"Contact.txt:Business phone number 2", "+46 8 100 00 02"},
        {"Contact.txt:Business fax number", "+46 8 123 45 68"},
        {"Contact.txt:Home phone number", "+46 8 222 22 22"},
        {"Contact.txt:Mobile phone number", "+46 70 765 43 21"},
        {"Contact.txt:Primary phone number", "+46 8 100 00 09"},
        {"Contact.txt:Locality", "Göteborg"},
        {"Contact.txt:Delivery time", "Feb 01, 2024 12:00:00.000000000 UTC"},
    };
    for (const auto& [field, value] : contactValues)
        EXPECT_EQ(contact->field(field), value) << field;

    const auto* standUp = seen.item("Calendar", "Daily stand-up ☕");
    ASSERT_NE(standUp, nullptr);
    const std::pair<const char*, const char*> eventValues[] = {
        {"Appointment.txt:Start time", "Mar 18, 2024 08:00:00.000000000 UTC"},
        {"Appointment.txt:End time", "Mar 18, 2024 08:15:00.000000000 UTC"},
        {"Appointment.txt:Duration", "15 minutes"},
        {"Appointment.txt:Location", "Fjord (2. OG)"},
        {"Appointment.txt:First effective time", "Mar 17, 2024 23:00:00.000000000 UTC"},
        {"Appointment.txt:Last effective time", "Mar 28, 2024 23:00:00.000000000 UTC"},
        {"Appointment.txt:Reminder time", "Mar 18, 2024 08:00:00.000000000 UTC"},
        {"Appointment.txt:Sent representing email address", "jane.doe@example.com"},
        {"Recipients.txt:Email address",
         "alice@example.com\nomar@example.sa\nroom.fjord@example.com"},
        {"Recipients.txt:Recipient type", "To\nTo\nTo"},
    };
    for (const auto& [field, value] : eventValues)
        EXPECT_EQ(standUp->field(field), value) << field;
    expectValues(standUp, {"Occurs every week on Monday, Tuesday, Wednesday, Thursday, Friday"});
    // Every event with its start, and a recurrence pattern exactly when it is a series.
    for (const ExpectedEvent& e : kEvents) {
        SCOPED_TRACE(e.summary);
        const KindItem* item = nullptr;
        for (const KindItem& i : seen.items)
            if (i.folder == "Calendar" &&
                withoutAstral(i.field("subject")) == withoutAstral(e.summary))
                item = &i;
        ASSERT_NE(item, nullptr);
        EXPECT_NE(item->field("Appointment.txt:Start time"), "");
        EXPECT_EQ(item->field("Appointment.txt:Recurrence pattern").empty(), e.recurrenceType == 0);
    }

    const auto* plan = seen.item("Tasks", "Prepare Q2 plan — Überblick");
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(plan->field("Task.txt:Start date"), "Mar 25, 2024 00:00:00.000000000 UTC");
    EXPECT_EQ(plan->field("Task.txt:Due date"), "Mar 30, 2024 00:00:00.000000000 UTC");
    EXPECT_EQ(plan->field("Task.txt:Reminder time"), "Mar 28, 2024 09:00:00.000000000 UTC");
    const auto* done = seen.item("Tasks", "تقديم التقرير");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->field("Task.txt:Is complete"), "yes");

    const auto* group = seen.item("Contacts", "Project Team ✨");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->field("DistributionList.txt:Name"), "Project Team ✨");
    const auto* codes = seen.item("Notes", "Wi-Fi & door codes");
    ASSERT_NE(codes, nullptr);
    EXPECT_NE(codes->field("Message.txt").find("Guest Wi-Fi: <fjord-guest> / Tür: 4711"),
              std::string::npos);
    EXPECT_NE(seen.item("Notes", "Unknown"), nullptr);
}

} // namespace
} // namespace parvelle::items::test
