#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "mailbox/preview_html.h"
#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

// Runs the preview rendering in a time zone two hours east of UTC without daylight saving.
class PreviewHtml : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        saved_ = tz ? tz : "";
        setenv("TZ", "XYZ-2", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    std::string render(const std::string& xml) {
        RenderItemPreviewBytes(state, xml);
        return state.previewText;
    }

    JobState state;

private:
    bool hadTz_ = false;
    std::string saved_;
};

std::string page(const std::string& lines) {
    return "<html><head><body>" + lines + "</body></head></html>";
}

TEST_F(PreviewHtml, TaskDueDateIsShownInLocalTimeWithEnglishNames) {
    EXPECT_EQ(render("<task><OPFTaskCopyDueDateTime>2013-04-05T14:00:00</OPFTaskCopyDueDateTime>"
                     "<OPFTaskCopyName>Report</OPFTaskCopyName></task>"),
              page("<p> DueDateTime : Friday, April 05 2013 ,16:00:00<p> Task : Report"));
}

TEST_F(PreviewHtml, DateFormats) {
    struct Case {
        const char* text;
        PreviewDateFormat format;
        const char* expected;
    };
    const Case cases[] = {
        {"2013-04-05T14:00:00", PreviewDateFormat::Long, "Friday, April 05 2013 ,16:00:00"},
        {"2013-04-05T23:30:05", PreviewDateFormat::DateTime, "04/06/2013 01.30.05"},
        {"2013-12-31T23:00:00", PreviewDateFormat::Date, "01/01/2014"},
        {"2013-04-05", PreviewDateFormat::Date, "04/05/2013"},
        {"", PreviewDateFormat::Long, "Invalid DateTime"},
        {"yesterday", PreviewDateFormat::Long, "Invalid DateTime"},
        {"2013-02-30T10:00:00", PreviewDateFormat::Long, "Invalid DateTime"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreviewDate(c.text, c.format), c.expected) << c.text;
}

TEST_F(PreviewHtml, ContactEmailLinesFollowTheAddressType) {
    const std::string html =
        render("<contact><OPFContactCopyEmailAddressList>"
               "<contactEmailAddress OPFContactEmailAddressAddress=\"w@x.org\" "
               "OPFContactEmailAddressType=\"0\"/>"
               "<contactEmailAddress OPFContactEmailAddressAddress=\"o@x.org\" "
               "OPFContactEmailAddressType=\"2\"/>"
               "<contactEmailAddress OPFContactEmailAddressAddress=\"z@x.org\" "
               "OPFContactEmailAddressType=\"5\"/>"
               "</OPFContactCopyEmailAddressList></contact>");
    EXPECT_EQ(html, page("<p> Work E-mail: w@x.org<p> Other E-mail: o@x.org"));
}

TEST_F(PreviewHtml, ContactFieldsNamesAndSummary) {
    const std::string html =
        render("<contact><OPFContactCopyAnniversary></OPFContactCopyAnniversary>"
               "<OPFContactCopyBirthday>1980-06-01T10:00:00</OPFContactCopyBirthday>"
               "<OPFContactCopyChildren><string>Kim</string><string>Lou</string>"
               "</OPFContactCopyChildren>"
               "<OPFContactCopyDisplayName>Ann Lee</OPFContactCopyDisplayName>"
               "<OPFContactCopyHomePhone>555</OPFContactCopyHomePhone>"
               "<OPFContactCopyModDate>2013-04-05T14:00:00</OPFContactCopyModDate></contact>");
    EXPECT_EQ(html, page("<p> Birthday : 06/01/1980 12.00.00<p> Children : Kim<p> Name : Ann Lee"
                         "<p> Home  : 555<p> ModDate : Friday, April 05 2013 ,16:00:00"));
    EXPECT_EQ(state.summarySubject, "Ann Lee");
    EXPECT_EQ(state.summaryDate, "Friday, April 05 2013 ,16:00:00");
}

TEST_F(PreviewHtml, GroupLines) {
    struct Case {
        const char* members;
        const char* expected;
    };
    const Case cases[] = {
        {"<emailAddress/><emailAddress OPFContactEmailAddressAddress=\"b\"/>",
         "<p> EmailAddress : b"},
        {"<emailAddress OPFContactEmailAddressAddress=\"a\"/><emailAddress/>"
         "<emailAddress OPFContactEmailAddressAddress=\"c\"/>",
         "<p> EmailAddress : a,,c"},
        {"<emailAddress/>", ""},
    };
    for (const Case& c : cases) {
        const std::string html =
            render(std::string("<group><OPFGroupCopyDisplayName></OPFGroupCopyDisplayName>"
                               "<OPFGroupCopyDueDateTime></OPFGroupCopyDueDateTime>"
                               "<OPFGroupCopyMemberList>") +
                   c.members + "</OPFGroupCopyMemberList></group>");
        EXPECT_EQ(html, page(std::string("<p> DueDateTime : Invalid DateTime") + c.expected))
            << c.members;
        EXPECT_EQ(state.summarySubject, "");
    }
}

TEST_F(PreviewHtml, FieldTextsAreEscaped) {
    const std::string html = render("<task><OPFTaskCopyName>&lt;b&gt;bold&lt;/b&gt; &amp; \"q\""
                                    "</OPFTaskCopyName></task>");
    EXPECT_EQ(html, page("<p> Task : &lt;b&gt;bold&lt;/b&gt; &amp; &quot;q&quot;"));
}

TEST_F(PreviewHtml, EventAttendeesRecurrenceAndTrailingFields) {
    const std::string html =
        render("<appointment><OPFCalendarEventCopyAttendeeList>"
               "<appointmentAttendee OPFCalendarAttendeeAddress=\"a@x.org\" "
               "OPFCalendarAttendeeType=\"1\"/></OPFCalendarEventCopyAttendeeList>"
               "<OPFCalendarEventCopyLocation>Room 1</OPFCalendarEventCopyLocation>"
               "<OPFCalendarEventCopyRecurrence><OPFRecurrenceGetOccurenceCount>3"
               "</OPFRecurrenceGetOccurenceCount><OPFRecurrencePattern>"
               "<OPFRecurrencePatternDaysOfWeek><monday>1</monday></OPFRecurrencePatternDaysOfWeek>"
               "<OPFRecurrencePatternType>Weekly</OPFRecurrencePatternType></OPFRecurrencePattern>"
               "</OPFCalendarEventCopyRecurrence>"
               "<OPFCalendarEventCopySummary>Standup</OPFCalendarEventCopySummary></appointment>");
    EXPECT_EQ(html, page("<p> AttendeeAddress : a@x.org<p> AttendeeType : 1<p> Location : Room 1"
                         "<p> RecurrenceGetOccurencecount : 3<p> monday : 1"
                         "<p> RecurrencePatternType : Weekly<p> Summary : Standup"));
}

TEST_F(PreviewHtml, MailBodyHasHtmlAndAttachments) {
    const std::string mail =
        "<emails><email><OPFMessageCopyAttachmentList>"
        "<messageAttachment OPFAttachmentName=\"report\" OPFAttachmentContentExtension=\"pdf\" "
        "OPFAttachmentURL=\"Accounts/a/com.microsoft.__Attachments/abcdefghijkl_0000\"/>"
        "<messageAttachment OPFAttachmentName=\"a/b:c\"/>"
        "</OPFMessageCopyAttachmentList>"
        "<OPFMessageCopyHTMLBody>&lt;p&gt;Hi&lt;/p&gt;</OPFMessageCopyHTMLBody>"
        "<OPFMessageGetHasHTML>0E0</OPFMessageGetHasHTML></email></emails>";
    EXPECT_EQ(render(mail), "<p>Hi</p>");
    EXPECT_EQ(state.previewHasHtml, "0E0");
    EXPECT_EQ(state.summaryHasAttachments, 1);
    ASSERT_EQ(state.pendingAttachments.size(), 2u);
    EXPECT_EQ(state.pendingAttachments[0].displayName, "report.pdf");
    EXPECT_EQ(state.pendingAttachments[0].memberKey, "abcdefghijk0000");
    EXPECT_EQ(state.pendingAttachments[1].displayName, "a_b_c.eml");

    // The next item starts from nothing: no body, no attachments of the mail before.
    EXPECT_EQ(render("<emails><email><OPFMessageCopySubject>s</OPFMessageCopySubject>"
                     "</email></emails>"),
              "");
    EXPECT_TRUE(state.pendingAttachments.empty());
    EXPECT_EQ(state.summaryHasAttachments, 0);

    EXPECT_EQ(render("<emails><email><OPFMessageCopyBody>if a &lt; b\nthen</OPFMessageCopyBody>"
                     "</email></emails>"),
              "<pre style=\"white-space: pre-wrap\">if a &lt; b\nthen</pre>");
}

TEST_F(PreviewHtml, NoteTextAndUnreadableFiles) {
    EXPECT_EQ(render("<note><OPFNoteCopyText>Buy milk</OPFNoteCopyText></note>"), "Buy milk");
    parvelle::testing::TempDir dir;
    RenderItemPreview(state, (dir / "missing.xml").string());
    EXPECT_EQ(state.previewText, "");
    { std::ofstream(dir / "t.xml") << "<task><OPFTaskGetPriority>2</OPFTaskGetPriority></task>"; }
    RenderItemPreview(state, (dir / "t.xml").string());
    EXPECT_EQ(state.previewText, page("<p> GetPriority : 2"));
}

} // namespace
} // namespace parvelle::mailbox
