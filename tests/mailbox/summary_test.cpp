#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "mailbox/mailbox_converter.h"
#include "mailbox/summary_date.h"
#include "recording_frontend.h"

namespace parvelle::mailbox {
namespace {

// Runs the summary readers on one document.
struct Summary {
    JobState state;
    testing::RecordingFrontEnd ui;
    MailboxConverter converter{state, ui};
    std::string kind;

    explicit Summary(const std::string& xml) { kind = converter.summarize(xml); }
};

std::string mail(const std::string& children) {
    return "<emails xml:space=\"preserve\" elementCount=\"1\"><email xml:space=\"preserve\">" +
           children + "</email></emails>";
}

std::string address(const std::string& name, const std::string& addr) {
    std::string s = "<emailAddress";
    if (!addr.empty())
        s += " OPFContactEmailAddressAddress=\"" + addr + "\"";
    if (!name.empty())
        s += " OPFContactEmailAddressName=\"" + name + "\"";
    return s + "/>";
}

class LocalTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "XYZ-2", 1); // two hours east of UTC, no daylight saving
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadTz_ = false;
};

TEST_F(LocalTime, MailSummaryReadsAddressesSubjectDateAndAttachments) {
    Summary s(mail(
        "<OPFMessageCopyAttachmentList>"
        "<messageAttachment OPFAttachmentContentExtension=\"pdf\" OPFAttachmentName=\"report\"/>"
        "<messageAttachment OPFAttachmentName=\"notes\"/>"
        "<messageAttachment OPFAttachmentContentExtension=\"txt\" OPFAttachmentName=\"a:b.log\"/>"
        "</OPFMessageCopyAttachmentList>"
        "<OPFMessageCopyCCAddresses>" +
        address("", "a:b") + address("", "c") +
        "</OPFMessageCopyCCAddresses>"
        "<OPFMessageCopyFromAddresses>" +
        address("Sender", "") +
        "</OPFMessageCopyFromAddresses>"
        "<OPFMessageCopySentTime>2013-04-05T10:20:30</OPFMessageCopySentTime>"
        "<OPFMessageCopySubject>Re: a/b</OPFMessageCopySubject>"
        "<OPFMessageCopyToAddresses>" +
        address("", "x@y.z") + address("B", "") + address("", "a:b") +
        "</OPFMessageCopyToAddresses>"));
    EXPECT_EQ(s.kind, "email");
    const JobState& st = s.state;
    EXPECT_EQ(st.summaryTo, "x@y.z,B,a_b");
    EXPECT_EQ(st.summaryCc, "a:b,c"); // Cc entries are not sanitized
    EXPECT_EQ(st.summaryFrom, "Sender");
    EXPECT_EQ(st.summarySubject, "Re_ a_b");
    EXPECT_EQ(st.summaryDate, "04/05/13 12:20:30");
    ASSERT_EQ(st.summaryAttachments.size(), 3u);
    EXPECT_EQ(st.summaryAttachments[0].displayName, "report.pdf");
    EXPECT_EQ(st.summaryAttachments[1].displayName, "notes.eml");
    EXPECT_EQ(st.summaryAttachments[2].displayName, "a_b.log");
    EXPECT_EQ(st.summaryHasAttachments, 1);
}

TEST(ItemSummary, TitlesFallBackPerKindAndEachKindLogsItsRow) {
    struct Case {
        std::string xml, kind, subject, logType;
    };
    const Case cases[] = {
        {mail(""), "email", "Unknown", ""},
        {"<note "
         "xml:space=\"preserve\"><OPFNoteCopyCreationDate>2020-01-01T00:00:00</"
         "OPFNoteCopyCreationDate></note>",
         "note", "Unknown", "Note"},
        {"<task xml:space=\"preserve\"><OPFTaskCopyName>Pay</OPFTaskCopyName></task>", "task",
         "Pay", "Task"},
        {"<appointment xml:space=\"preserve\"></appointment>", "appointment", "Unknwon",
         "Calendar"},
        {"<contact "
         "xml:space=\"preserve\"><OPFContactCopyModDate>x</OPFContactCopyModDate></contact>",
         "contact", "Unknwon", "Contact"},
        {"<group "
         "xml:space=\"preserve\"><OPFGroupCopyDisplayName>Team</OPFGroupCopyDisplayName></group>",
         "group", "Team", "Contact Group"},
        {"<other/>", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        Summary s(c.xml);
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_EQ(s.state.summarySubject, c.subject);
        const auto rows = s.state.log.rows();
        if (c.logType.empty()) {
            EXPECT_TRUE(rows.empty());
        } else {
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].itemType, c.logType);
            EXPECT_EQ(rows[0].description, c.subject);
            EXPECT_EQ(rows[0].status, "Converted");
        }
    }
}

TEST(ItemSummary, EventAttendeesEachEndWithACommaAndOrganizerIsTheSender) {
    Summary s("<appointment xml:space=\"preserve\"><OPFCalendarEventCopyAttendeeList>"
              "<appointmentAttendee OPFCalendarAttendeeAddress=\"x@a.b\"/>"
              "<appointmentAttendee OPFCalendarAttendeeName=\"Y\"/>"
              "</OPFCalendarEventCopyAttendeeList>"
              "<OPFCalendarEventCopyOrganizer>boss@a.b</OPFCalendarEventCopyOrganizer>"
              "<OPFCalendarEventCopySummary>Plan</OPFCalendarEventCopySummary></appointment>");
    EXPECT_EQ(s.state.summaryTo, "x@a.b,Y,");
    EXPECT_EQ(s.state.summaryFrom, "boss@a.b");
    EXPECT_EQ(s.state.summarySubject, "Plan");
}

TEST(ItemSummary, FieldsOfOneItemNeverLeakIntoTheNext) {
    JobState state;
    testing::RecordingFrontEnd ui;
    MailboxConverter converter(state, ui);
    converter.summarize(mail("<OPFMessageCopyCCAddresses>" + address("", "cc@x") +
                             "</OPFMessageCopyCCAddresses><OPFMessageCopyFromAddresses>" +
                             address("", "me@x") + "</OPFMessageCopyFromAddresses>"));
    ASSERT_EQ(state.summaryCc, "cc@x");
    converter.summarize(
        "<note xml:space=\"preserve\"><OPFNoteCopyTitle>N</OPFNoteCopyTitle></note>");
    EXPECT_EQ(state.summaryCc, "");
    EXPECT_EQ(state.summaryFrom, "");
    EXPECT_EQ(state.summaryDate, "");
}

TEST_F(LocalTime, DateTextsFollowTheLocalZoneAndUnparsableDatesShowDateZero) {
    EXPECT_EQ(summaryDateText("2013-04-05T10:20:30"), "04/05/13 12:20:30");
    // Midnight local time shows the date alone.
    EXPECT_EQ(summaryDateText("2013-04-04T22:00:00"), "04/05/13");
    EXPECT_EQ(summaryDateText("yesterday"), "00:00:00");
    EXPECT_EQ(summaryDateText(""), "00:00:00");
}

} // namespace
} // namespace parvelle::mailbox
