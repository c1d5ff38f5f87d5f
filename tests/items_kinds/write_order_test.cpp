// The calls each reader makes on the store for one item document, in order: the writers put the
// item's values in a fixed sequence (named properties through their tag first), which this test
// records on a stand-in folder and compares call by call.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "items/item_readers.h"
#include "kinds_fixture.h"
#include "platform/datetime.h"

namespace parvelle::items::test {
namespace {

using component::CallKind;
using component::ObjectRef;
using component::Variant;

std::string hex(std::int32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<std::uint32_t>(v));
    return text;
}

std::string describe(const Variant& v) {
    const auto& s = v.storage();
    if (const auto* b = std::get_if<bool>(&s))
        return *b ? "true" : "false";
    if (const auto* i = std::get_if<std::int32_t>(&s))
        return hex(*i);
    if (const auto* d = std::get_if<component::Date>(&s)) {
        const std::time_t t = static_cast<std::time_t>(platform::unixFromOleDate(d->value));
        std::tm f{};
        gmtime_r(&t, &f);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &f);
        return text;
    }
    if (const auto* str = std::get_if<std::string>(&s))
        return "'" + *str + "'";
    return "-";
}

// Records every call made on it (and on the objects it hands out) as one line of text.
class Recorder : public component::DispatchObject {
public:
    Recorder(std::string name, std::shared_ptr<std::vector<std::string>> log)
        : name_(std::move(name)), log_(std::move(log)) {}

    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override {
        std::string line = name_ +
                           (kind == CallKind::Method ? " call "
                            : kind == CallKind::Get  ? " get "
                                                     : " put ") +
                           hex(dispid);
        for (const Variant& a : args)
            line += " " + describe(a);
        log_->push_back(line);
        if (name_ == "folder" && kind == CallKind::Get && dispid == 0x11)
            return child("items");
        if (name_ == "items" && kind == CallKind::Method && dispid == 4)
            return child("item");
        if (name_ == "item" && kind == CallKind::Method && dispid == 2)
            return args.size() == 2 ? args[1].toInt() << 16 : 0; // the id as the tag's id
        if (name_ == "item" && kind == CallKind::Method && dispid == 0x6004004B)
            return child("pattern");
        if (name_ == "item" && kind == CallKind::Get && dispid == 0x4D)
            return child("recipients");
        return {};
    }

private:
    Variant child(const std::string& name) {
        return ObjectRef(std::make_shared<Recorder>(name, log_));
    }
    std::string name_;
    std::shared_ptr<std::vector<std::string>> log_;
};

// The calls made while `reader` converts the item document `xml` (whose top element is `root`).
std::vector<std::string> callsFor(ReaderFn reader, const char* root, const std::string& xml) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    auto log = std::make_shared<std::vector<std::string>>();
    const ObjectRef folder = std::make_shared<Recorder>("folder", log);
    Conversion conversion;
    MarkupDocument doc;
    doc.LoadBytes(xml);
    EXPECT_TRUE(doc.FindSibling(root));
    ItemHolder holder;
    reader(doc, folder, holder, conversion.conv);
    return *log;
}

const std::string kAddress = "'{00062004-0000-0000-C000-000000000046}'";
const std::string kAppointment = "'{00062002-0000-0000-C000-000000000046}'";
const std::string kCommon = "'{00062008-0000-0000-C000-000000000046}'";

TEST(WriteOrder, Contact) {
    const std::string xml =
        "<contact>"
        "<OPFContactCopyAnniversary>2010-06-19T00:00:00</OPFContactCopyAnniversary>"
        "<OPFContactCopyAssistantPhone>+1 555 0101</OPFContactCopyAssistantPhone>"
        "<OPFContactCopyBirthday>1985-05-04T00:00:00</OPFContactCopyBirthday>"
        "<OPFContactCopyBusinessCity>Springfield</OPFContactCopyBusinessCity>"
        "<OPFContactCopyBusinessCompany>Fence Co</OPFContactCopyBusinessCompany>"
        "<OPFContactCopyBusinessDepartment></OPFContactCopyBusinessDepartment>"
        "<OPFContactCopyChildren><string>Ann</string><string>Bo</string></OPFContactCopyChildren>"
        "<OPFContactCopyDisplayName>Quick Fox</OPFContactCopyDisplayName>"
        "<OPFContactCopyEmailAddressList>"
        "<contactEmailAddress OPFContactEmailAddressAddress=\"a@x.example\" "
        "OPFContactEmailAddressType=\"0\"/>"
        "<contactEmailAddress OPFContactEmailAddressAddress=\"c@x.example\" "
        "OPFContactEmailAddressType=\"2\"/>"
        "</OPFContactCopyEmailAddressList>"
        "<OPFContactCopyFirstName>Quick</OPFContactCopyFirstName>"
        "<OPFContactCopyHomeWebPage>https://fox.example</OPFContactCopyHomeWebPage>"
        "<OPFContactCopyLastName>Fox</OPFContactCopyLastName>"
        "<OPFContactCopyModDate>2024-02-01T12:00:00</OPFContactCopyModDate>"
        "<OPFContactCopyNotes>Jumps.</OPFContactCopyNotes>"
        "<OPFContactCopyPager>+1 555 0102</OPFContactCopyPager>"
        "<OPFContactCopyTitle>Dr</OPFContactCopyTitle>"
        "<OPFContactMainPhone>+1 555 0103</OPFContactMainPhone>"
        "</contact>";
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.Contact'",
        "item put 0x1E 'IPM.Contact'",
        "item put 0x600400D8 'https://fox.example'",
        "item put 0x60040006 '+1 555 0101'",
        "item put 0x6004000E 'Springfield'",
        "item put 0x3 0x3A27001E 'Springfield'",
        "item put 0x60040083 'Fox'",
        "item put 0x600400CA 'Dr'",
        "item put 0x600400BA '+1 555 0103'",
        "item put 0x600400B6 '+1 555 0102'",
        // The birthday shifted to local time (summer time), the anniversary as it stands.
        "item put 0x60040008 1985-05-04T02:00:00",
        "item put 0x60040024 'Ann'",
        "item put 0x60040002 2010-06-19T00:00:00",
        "item call 0x2 " + kAddress + " 0x8084",
        "item put 0x3 0x8084001E 'a@x.example'",
        "item call 0x2 " + kAddress + " 0x80A4",
        "item put 0x3 0x80A4001E 'c@x.example'",
        "item put 0x6004004D 'Quick'",
        "item put 0x6004002D 'Fence Co'",
        "item put 0x0 'Quick Fox'",
        "item put 0x3 0xE060040 2024-02-01T12:00:00",
        "item put 0x41 false",
        "item put 0x1A 'Jumps.'",
        "item put 0x38 true",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadContact, "contact", xml), expected);
}

// The reader looks its elements up forward only, in alphabetical order: an element that comes
// before, in the document, one already found is not seen.
TEST(WriteOrder, ContactElementsOutOfOrderAreLostAsTheReaderSkipsPastThem) {
    const std::string xml = "<contact>"
                            "<OPFContactCopyLastName>Fox</OPFContactCopyLastName>"
                            "<OPFContactCopyFirstName>Quick</OPFContactCopyFirstName>"
                            "<OPFContactCopyNickName>Q</OPFContactCopyNickName>"
                            "</contact>";
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.Contact'",
        "item put 0x1E 'IPM.Contact'",
        "item put 0x6004009E 'Q'",
        "item put 0x6004004D 'Quick'",
        "item put 0x41 false",
        "item put 0x38 true",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadContact, "contact", xml), expected);
}

// Attendees, then the organizer last; a recurring, private, all-day event with a reminder.
const std::string kEventXml =
    "<appointment>"
    "<OPFCalendarEventCopyAttendeeList>"
    "<appointmentAttendee OPFCalendarAttendeeAddress=\"a@x.example\" "
    "OPFCalendarAttendeeName=\"Ann\" OPFCalendarAttendeeType=\"1\"/>"
    "<appointmentAttendee OPFCalendarAttendeeAddress=\"b@x.example\" "
    "OPFCalendarAttendeeName=\"Bo\" OPFCalendarAttendeeType=\"2\"/>"
    "</OPFCalendarEventCopyAttendeeList>"
    "<OPFCalendarEventCopyDescription>Agenda</OPFCalendarEventCopyDescription>"
    "<OPFCalendarEventCopyEndTime>2024-01-15T09:30:00</OPFCalendarEventCopyEndTime>"
    "<OPFCalendarEventCopyLocation>Room 1</OPFCalendarEventCopyLocation>"
    "<OPFCalendarEventCopyModDate>2024-01-10T12:00:00</OPFCalendarEventCopyModDate>"
    "<OPFCalendarEventCopyOrganizer>org@x.example</OPFCalendarEventCopyOrganizer>"
    "<OPFCalendarEventCopyRecurrence>"
    "<OPFRecurrenceCopyStartDate>2024-01-15T00:00:00</OPFRecurrenceCopyStartDate>"
    "<OPFRecurrenceGetOccurenceCount>6</OPFRecurrenceGetOccurenceCount>"
    "<OPFRecurrenceIsNoEnd>0</OPFRecurrenceIsNoEnd>"
    "<OPFRecurrencePattern>"
    "<OPFRecurrencePatternDaysOfWeek><monday>1</monday></OPFRecurrencePatternDaysOfWeek>"
    "<OPFRecurrencePatternInterval>2</OPFRecurrencePatternInterval>"
    "<OPFRecurrencePatternType>Weekly</OPFRecurrencePatternType>"
    "</OPFRecurrencePattern>"
    "</OPFCalendarEventCopyRecurrence>"
    "<OPFCalendarEventCopyStartTime>2024-01-15T09:00:00</OPFCalendarEventCopyStartTime>"
    "<OPFCalendarEventCopySummary>Review</OPFCalendarEventCopySummary>"
    "<OPFCalendarEventGetHasReminder>1</OPFCalendarEventGetHasReminder>"
    "<OPFCalendarEventGetIsAllDayEvent>1</OPFCalendarEventGetIsAllDayEvent>"
    "<OPFCalendarEventGetIsPrivate>1</OPFCalendarEventGetIsPrivate>"
    "<OPFCalendarEventIsRecurring>1</OPFCalendarEventIsRecurring>"
    "</appointment>";

TEST(WriteOrder, Event) {
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.Appointment'",
        "item put 0x1E 'IPM.Appointment'",
        "item put 0x3 0xE070003 0x1",
        "item put 0x41 false",
        "item put 0x60040042 2024-01-15T10:00:00",
        "item put 0x6004000A 2024-01-15T10:30:00",
        "item call 0x2 " + kAppointment + " 0x8208",
        "item put 0x3 0x8208001E 'Room 1'",
        "item call 0x6004004B",
        "pattern put 0x60020022 0x0",
        "pattern put 0x6002001B 2024-01-15T00:00:00",
        "pattern put 0x6002000B 0x2",
        "pattern put 0x60020017 0x1",
        "pattern put 0x60020011 0x6",
        // What the series needs beyond the type to expand as in the archive.
        "pattern put 0x60020003 0x2",
        "item call 0x2 " + kCommon + " 0x8506",
        "item put 0x3 0x8506000B 0x1",
        "item put 0x3 0x2000B 0x0",
        "item put 0x3 0x2B000B 0x1",
        "item put 0x3 0x360003 0x2",
        "item call 0x2 " + kAppointment + " 0x8215",
        "item put 0x3 0x8215000B 0x1",
        "item put 0x2D true",
        "item call 0x2 " + kAppointment + " 0x8235",
        "item put 0x3 0x82350040 2024-01-15T01:00:00",
        "item call 0x2 " + kAppointment + " 0x8231",
        "item put 0x3 0x82310003 0x2",
        "item call 0x2 " + kAppointment + " 0x8223",
        "item put 0x3 0x8223000B 0x1",
        "item get 0x4D",
        "recipients call 0x3 'Ann' 'a@x.example' 'SMTP' 0x1",
        "recipients call 0x3 'Bo' 'b@x.example' 'SMTP' 0x1",
        "recipients call 0x3 '' 'org@x.example' 'SMTP' 0x0",
        "item call 0x2 " + kAppointment + " 0x8241",
        "item put 0x3 0x8241000B 0x0",
        "item put 0x0 'Review'",
        "item put 0x1A 'Agenda'",
        "item put 0x3 0xE060040 2024-01-10T12:00:00",
        "item put 0x38 true",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadEvent, "appointment", kEventXml), expected);
}

TEST(WriteOrder, Task) {
    const std::string xml = "<task>"
                            "<OPFTaskCopyCompletedDateTime>2024-02-15T16:00:00"
                            "</OPFTaskCopyCompletedDateTime>"
                            "<OPFTaskCopyDueDateTime>2024-02-15T12:00:00</OPFTaskCopyDueDateTime>"
                            "<OPFTaskCopyName>Report</OPFTaskCopyName>"
                            "<OPFTaskCopyNote>Numbers</OPFTaskCopyNote>"
                            "<OPFTaskCopyReminderTime>2024-02-14T09:00:00"
                            "</OPFTaskCopyReminderTime>"
                            "<OPFTaskCopyStartDateTime>2024-02-12T08:00:00"
                            "</OPFTaskCopyStartDateTime>"
                            "<OPFTaskGetPriority>4</OPFTaskGetPriority>"
                            "</task>";
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.Task'",
        "item put 0x1E 'IPM.Task'",
        "item put 0x3 0xE070003 0x1",
        "item put 0x60040020 2024-02-12T09:00:00",
        "item put 0x60040011 2024-02-15T13:00:00",
        "item put 0x6004000A 2024-02-15T17:00:00",
        "item put 0x2F 2024-02-14T10:00:00",
        "item call 0x2 " + kAppointment + " 0x8231",
        "item put 0x3 0x82310003 0x0",
        "item put 0x1B 0x0",
        "item put 0x41 false",
        "item put 0x0 'Report'",
        "item put 0x1A 'Numbers'",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadTask, "task", xml), expected);
}

TEST(WriteOrder, RecurringTaskGetsNoPatternAtAll) {
    const std::string xml = "<task>"
                            "<OPFTaskCopyName>Plants</OPFTaskCopyName>"
                            "<OPFTaskCopyRecurrence>"
                            "<OPFRecurrenceCopyStartDate>2024-03-02T00:00:00"
                            "</OPFRecurrenceCopyStartDate>"
                            "<OPFRecurrencePattern>"
                            "<OPFRecurrencePatternInterval>2</OPFRecurrencePatternInterval>"
                            "<OPFRecurrencePatternType>Weekly</OPFRecurrencePatternType>"
                            "</OPFRecurrencePattern>"
                            "</OPFTaskCopyRecurrence>"
                            "<OPFTaskGetPriority>1</OPFTaskGetPriority>"
                            "</task>";
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.Task'",
        "item put 0x1E 'IPM.Task'",
        "item put 0x3 0xE070003 0x1",
        "item put 0x41 false",
        "item put 0x0 'Plants'",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadTask, "task", xml), expected);
}

TEST(WriteOrder, Note) {
    const std::string xml = "<note>"
                            "<OPFNoteCopyCreationDate>2024-01-10T09:00:00</OPFNoteCopyCreationDate>"
                            "<OPFNoteCopyText>Door: 4711</OPFNoteCopyText>"
                            "</note>";
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.StickyNote'",
        "item put 0x1E 'IPM.StickyNote'",
        "item put 0x3 0xE070003 0x1",
        "item put 0x0 'Unknown'",
        "item put 0x1A 'Door: 4711'",
        "item put 0x38 true",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadNote, "note", xml), expected);
}

TEST(WriteOrder, GroupMembersInDocumentOrderWithoutTheAddressless) {
    const std::string xml = "<group>"
                            "<OPFGroupCopyDisplayName>Team</OPFGroupCopyDisplayName>"
                            "<OPFGroupCopyMemberList>"
                            "<emailAddress OPFContactEmailAddressAddress=\"a@x.example\" "
                            "OPFContactEmailAddressName=\"Ann\"/>"
                            "<emailAddress OPFContactEmailAddressName=\"Nobody\"/>"
                            "<emailAddress OPFContactEmailAddressAddress=\"b@x.example\"/>"
                            "</OPFGroupCopyMemberList>"
                            "<OPFGroupCopyNotes>Weekly</OPFGroupCopyNotes>"
                            "</group>";
    const std::vector<std::string> expected = {
        "folder get 0x11",
        "items call 0x4 'IPM.DistList'",
        "item put 0x1E 'IPM.DistList'",
        "item put 0x3 0xE070003 0x1",
        "item call 0x6004000B 'Ann' 'a@x.example' ''",
        "item call 0x6004000B '' 'b@x.example' ''",
        "item put 0x60040002 'Team'",
        "item put 0x1A 'Weekly'",
        "item call 0x6",
    };
    EXPECT_EQ(callsFor(&ReadGroup, "group", xml), expected);
}

} // namespace
} // namespace parvelle::items::test
