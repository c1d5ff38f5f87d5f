#include "mailbox/preview_html.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "items/file_names.h"
#include "items/mail_reader.h"
#include "mailbox/member_paths.h"
#include "markup/markup_document.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace parvelle::mailbox {
namespace {

using markup::MarkupDocument;

constexpr std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

constexpr std::string_view kInvalidDate = "Invalid DateTime";

bool stopRequested(const JobState& s) {
    return s.stopRequested.load() != 0;
}

// Accumulates the field lines of one item page. Field texts are escaped: an item's own text must
// never become markup of the page it is shown in.
class PageBuilder {
public:
    PageBuilder(MarkupDocument& doc, JobState& state) : doc_(doc), state_(state) {}

    void line(std::string_view label, std::string_view value) {
        page_ += "<p> ";
        page_ += label;
        page_ += text::escapeHtml(value);
    }

    // Text field: a line when the element is found and its text is not empty. Returns the text.
    std::string text(std::string_view element, std::string_view label) {
        if (!doc_.FindChild(element))
            return {};
        std::string value = doc_.ChildText();
        if (!value.empty())
            line(label, value);
        return value;
    }

    // Date field: a line whenever the element is found (unless skipEmpty and its text is empty).
    // Returns the formatted text, empty when the element is absent.
    std::string date(std::string_view element, std::string_view label, PreviewDateFormat format,
                     bool skipEmpty = false) {
        if (!doc_.FindChild(element))
            return {};
        const std::string raw = doc_.ChildText();
        if (skipEmpty && raw.empty())
            return {};
        std::string shown = PreviewDate(raw, format);
        line(label, shown);
        return shown;
    }

    // List whose first entry's attribute is shown.
    void firstAttribute(std::string_view list, std::string_view entry, std::string_view attribute,
                        std::string_view label) {
        if (!doc_.FindChild(list))
            return;
        doc_.Descend();
        if (doc_.FindChild(entry)) {
            const std::string value = doc_.ChildAttribute(attribute);
            if (!value.empty())
                line(label, value);
        }
        doc_.Ascend();
    }

    // Runs `body` inside the list element when it is found.
    template <typename Body> void list(std::string_view element, Body body) {
        if (!doc_.FindChild(element))
            return;
        doc_.Descend();
        body();
        doc_.Ascend();
    }

    // Every entry of a list, while no stop is requested.
    template <typename Visit> void entries(std::string_view entry, Visit visit) {
        while (!stopRequested(state_) && doc_.FindChild(entry))
            visit();
    }

    MarkupDocument& doc() { return doc_; }
    std::string page() const { return "<html><head><body>" + page_ + "</body></head></html>"; }

private:
    MarkupDocument& doc_;
    JobState& state_;
    std::string page_;
};

void daysOfWeek(PageBuilder& b) {
    b.list("OPFRecurrencePatternDaysOfWeek", [&] {
        static constexpr std::array<std::pair<const char*, const char*>, 10> kDays = {{
            {"allDays", "allDays : "},
            {"friday", "friday : "},
            {"monday", "monday : "},
            {"saturday", "saturday : "},
            {"sunday", "sunday : "},
            {"thursday", "thursday : "},
            {"tuesday", "tuesday : "},
            {"wednesday", "wednesday : "},
            {"weekdays", "weekdays : "},
            {"weekenddays", "weekenddays : "},
        }};
        for (const auto& [element, label] : kDays)
            b.text(element, label);
    });
}

void renderTask(PageBuilder& b) {
    constexpr auto kLong = PreviewDateFormat::Long;
    b.firstAttribute("OPFTaskCopyCategoryList", "category", "OPFCategoryCopyName",
                     "CategoryName : ");
    b.date("OPFTaskCopyCompletedDateTime", "CompletedDateTime : ", kLong);
    b.date("OPFTaskCopyDueDateTime", "DueDateTime : ", kLong);
    b.date("OPFTaskCopyModDate", "ModDateTime : ", kLong);
    b.text("OPFTaskCopyName", "Task : ");
    b.text("OPFTaskCopyNote", "Body : ");
    b.list("OPFTaskCopyRecurrence", [&] {
        b.date("OPFRecurrenceCopyEndDate", "RecurrenceEndDate : ", kLong);
        b.date("OPFRecurrenceCopyStartDate", "RecurrenceStartDate : ", kLong);
        b.text("OPFRecurrenceGetOccurenceCount", "RecurrenceGetOccurenceCount : ");
        b.text("OPFRecurrenceHasEndDate", "RecurrenceHasEndDate : ");
        b.text("OPFRecurrenceIsNoEnd", "RecurrenceIsNoEnd : ");
        b.text("OPFRecurrenceIsNumbered", "RecurrenceIsNumbered : ");
        b.list("OPFRecurrencePattern", [&] {
            daysOfWeek(b);
            b.text("OPFRecurrencePatternInterval", "RecurrencePatternInterval : ");
            b.text("OPFRecurrencePatternType", "RecurrencePatternType : ");
        });
    });
    b.date("OPFTaskCopyReminderTime", "Reminder : ", kLong);
    b.date("OPFTaskCopyStartDateTime", "StartDateTime : ", kLong);
    b.text("OPFTaskGetPriority", "GetPriority : ");
}

void renderEvent(PageBuilder& b) {
    constexpr auto kLong = PreviewDateFormat::Long;
    b.list("OPFCalendarEventCopyAttendeeList", [&] {
        b.entries("appointmentAttendee", [&] {
            static constexpr std::array<std::pair<const char*, const char*>, 5> kAttributes = {{
                {"OPFCalendarAttendeeAddress", "AttendeeAddress : "},
                {"OPFCalendarAttendeeName", "AttendeeName : "},
                {"OPFCalendarAttendeeResponseRequested", "AttendeeResponseRequested : "},
                {"OPFCalendarAttendeeStatus", "AttendeeStatus : "},
                {"OPFCalendarAttendeeType", "AttendeeType : "},
            }};
            for (const auto& [attribute, label] : kAttributes) {
                const std::string value = b.doc().ChildAttribute(attribute);
                if (!value.empty())
                    b.line(label, value);
            }
        });
    });
    b.firstAttribute("OPFCalendarEventCopyCategoryList", "category", "OPFCategoryCopyName",
                     "Name : ");
    b.text("OPFCalendarEventCopyDescription", "Description : ");
    b.date("OPFCalendarEventCopyEndTime", "EndTime : ", kLong);
    b.text("OPFCalendarEventCopyFreeBusyStatus", "FreeBusyStatus : ");
    b.text("OPFCalendarEventCopyLocation", "Location : ");
    b.date("OPFCalendarEventCopyModDate", "ModDate : ", kLong);
    b.text("OPFCalendarEventCopyOrganizer", "From : ");
    b.date("OPFCalendarEventCopyOriginalReminderTime", "ReminderTime : ", kLong);
    b.list("OPFCalendarEventCopyRecurrence", [&] {
        b.date("OPFRecurrenceCopyEndDate", "RecurrenceCopyEndDate : ", kLong);
        b.date("OPFRecurrenceCopyStartDate", "RecurrenceCopyStartDate : ", kLong);
        b.text("OPFRecurrenceGetOccurenceCount", "RecurrenceGetOccurencecount : ");
        b.text("OPFRecurrenceHasEndDate", "RecurrenceHasEndDate : ");
        b.text("OPFRecurrenceIsNoEnd", "RecurrenceIsNoEnd : ");
        b.text("OPFRecurrenceIsNumbered", "RecurrenceIsNumbered : ");
        b.list("OPFRecurrencePattern", [&] {
            daysOfWeek(b);
            b.text("OPFRecurrencePatternDayOfMonth", "RecurrencePatternDayOfMonth : ");
            b.text("OPFRecurrencePatternInterval", "RecurrencePatternInterval : ");
            b.text("OPFRecurrencePatternMonth", "RecurrencePatternMonth : ");
            b.text("OPFRecurrencePatternType", "RecurrencePatternType : ");
            b.text("OPFRecurrencePatternWeek", "RecurrencePatternWeek : ");
        });
    });
    b.text("OPFCalendarEventCopyReminderDelta", "ReminderDelta : ");
    b.date("OPFCalendarEventCopyReminderTime", "ReminderTime : ", kLong);
    b.date("OPFCalendarEventCopyStartTime", "StartTime : ", kLong);
    b.text("OPFCalendarEventCopySummary", "Summary : ");
    b.text("OPFCalendarEventCopyTimeZone", "TimeZone : ");
    b.text("OPFCalendarEventGetHasReminder", "Reminder : ");
    b.text("OPFCalendarEventGetIsAllDayEvent", "AllDayEvent : ");
    b.text("OPFCalendarEventIsRecurring", "IsRecurring : ");
    b.text("OPFCalendarEventSetIsOwner", "IsOwner : ");
}

void renderContact(PageBuilder& b, JobState& s) {
    constexpr auto kDateTime = PreviewDateFormat::DateTime;
    constexpr auto kDate = PreviewDateFormat::Date;
    MarkupDocument& doc = b.doc();
    b.date("OPFContactCopyAnniversary", "Anniversary : ", kDateTime, true);
    b.text("OPFContactCopyAssistantPhone", "Assistant : ");
    b.text("OPFContactCopyAstrologySign", "AstrologySign : ");
    b.date("OPFContactCopyBirthday", "Birthday : ", kDateTime, true);
    b.text("OPFContactCopyBloodType", "BloodType : ");
    b.text("OPFContactCopyBusinessCity", "Business City : ");
    b.text("OPFContactCopyBusinessCompany", "Business Company : ");
    b.text("OPFContactCopyBusinessCountry", "Business Country : ");
    b.text("OPFContactCopyBusinessDepartment", "Business Department : ");
    b.text("OPFContactCopyBusinessFax", "Work Fax : ");
    b.text("OPFContactCopyBusinessHomePage", "Work web : ");
    b.text("OPFContactCopyBusinessOffice", "Business Office : ");
    b.text("OPFContactCopyBusinessPhone", "Work : ");
    b.text("OPFContactCopyBusinessPhone2", "Work2 : ");
    b.text("OPFContactCopyBusinessState", "Business State : ");
    b.text("OPFContactCopyBusinessStreetAddress", "Business Street Address : ");
    b.text("OPFContactCopyBusinessTitle", "Job Title : ");
    b.text("OPFContactCopyBusinessZip", "Business Zip : ");
    b.text("OPFContactCopyCellPhone", "CellPhone : ");
    b.list("OPFContactCopyChildren", [&] {
        if (doc.FindChild("string")) {
            const std::string child = doc.ChildText();
            if (!child.empty())
                b.line("Children : ", child);
        }
    });
    b.text("OPFContactCopyContactImage", "Image : ");
    b.date("OPFContactCopyCustomDate1", "Date 1 : ", kDate, true);
    b.date("OPFContactCopyCustomDate2", "Date 2 : ", kDate, true);
    b.text("OPFContactCopyCustomPhone1", "Phone1 : ");
    b.text("OPFContactCopyCustomPhone2", "Phone2 : ");
    b.text("OPFContactCopyCustomPhone3", "Phone3 : ");
    b.text("OPFContactCopyCustomPhone4", "Phone4 : ");
    if (doc.FindChild("OPFContactCopyDisplayName")) {
        s.summarySubject = doc.ChildText();
        if (!s.summarySubject.empty())
            b.line("Name : ", s.summarySubject);
    }
    b.list("OPFContactCopyEmailAddressList", [&] {
        b.entries("contactEmailAddress", [&] {
            const std::string address = doc.ChildAttribute("OPFContactEmailAddressAddress");
            const std::string type = doc.ChildAttribute("OPFContactEmailAddressType");
            if (type == "0")
                b.line("Work E-mail: ", address);
            else if (type == "1")
                b.line("Home E-mail: ", address);
            else if (type == "2")
                b.line("Other E-mail: ", address);
        });
    });
    b.text("OPFContactCopyFirstName", "FirstName : ");
    b.text("OPFContactCopyHomeCity", "Home City : ");
    b.text("OPFContactCopyHomeCountry", "Home Country : ");
    b.text("OPFContactCopyHomeFax", "Home Fax : ");
    b.text("OPFContactCopyHomePhone", "Home  : ");
    b.text("OPFContactCopyHomePhone2", "Home2 : ");
    b.text("OPFContactCopyHomeState", "State : ");
    b.text("OPFContactCopyHomeStreetAddress", "Street : ");
    b.text("OPFContactCopyHomeWebPage", "HomeWeb : ");
    b.text("OPFContactCopyHomeZip", "Zip : ");
    b.list("OPFContactCopyIMAddressList", [&] {
        b.entries("contactEmailAddress", [&] {
            const std::string address = doc.ChildAttribute("OPFContactEmailAddressAddress");
            if (!address.empty())
                b.line("IMAddress : ", address);
        });
    });
    b.text("OPFContactCopyInterests", "Interests : ");
    b.text("OPFContactCopyLastName", "LastName : ");
    b.text("OPFContactCopyMiddleName", "MiddleName : ");
    if (doc.FindChild("OPFContactCopyModDate")) {
        s.summaryDate = PreviewDate(doc.ChildText(), PreviewDateFormat::Long);
        b.line("ModDate : ", s.summaryDate);
    }
    b.text("OPFContactCopyNickName", "NickName : ");
    b.text("OPFContactCopyNotes", "Notes : ");
    b.text("OPFContactCopyOtherCity", "OtherCity : ");
    b.text("OPFContactCopyOtherCountry", "OtherCountry : ");
    b.text("OPFContactCopyOtherFax", "OtherFax : ");
    b.text("OPFContactCopyOtherPhone", "OtherPhone : ");
    b.text("OPFContactCopyOtherState", "OtherState : ");
    b.text("OPFContactCopyOtherStreetAddress", "OtherStreetAddress : ");
    b.text("OPFContactCopyOtherZip", "OtherZip : ");
    b.text("OPFContactCopyPager", "Pager : ");
    b.text("OPFContactCopyRadioPhone", "Radio : ");
    b.text("OPFContactCopySetNameSuffix", "Suffix : ");
    b.text("OPFContactCopySpousesName", "Spouse Name : ");
    b.text("OPFContactCopyTitle", "Title : ");
    b.text("OPFContactMainPhone", "Primary : ");
}

void renderGroup(PageBuilder& b, JobState& s) {
    constexpr auto kLong = PreviewDateFormat::Long;
    MarkupDocument& doc = b.doc();
    if (doc.FindChild("OPFGroupCopyDisplayName")) {
        s.summarySubject = doc.ChildText();
        if (!s.summarySubject.empty())
            b.line("Name : ", s.summarySubject);
    }
    b.date("OPFGroupCopyDueDateTime", "DueDateTime : ", kLong);
    b.list("OPFGroupCopyMemberList", [&] {
        std::string members;
        b.entries("emailAddress", [&] {
            if (!members.empty())
                members += ',';
            members += doc.ChildAttribute("OPFContactEmailAddressAddress");
        });
        if (!members.empty())
            b.line("EmailAddress : ", members);
    });
    if (doc.FindChild("OPFGroupCopyModDate")) {
        s.summaryDate = PreviewDate(doc.ChildText(), kLong);
        b.line("ModDateTime : ", s.summaryDate);
    }
    b.text("OPFGroupCopyNotes", "Notes : ");
    b.date("OPFGroupCopyStartDateTime", "StartDateTime : ", kLong);
}

// The attachment list of a mail, by the mail reader's rules.
void readAttachments(MarkupDocument& doc, JobState& s) {
    doc.Descend();
    while (!stopRequested(s) && doc.FindChild("messageAttachment"))
        items::ReadAttachmentEntry(doc, s);
    doc.Ascend();
}

void renderMails(MarkupDocument& doc, JobState& s) {
    while (!stopRequested(s) && doc.FindChild("email")) {
        doc.Descend();
        s.summaryHasAttachments = 0;
        if (doc.FindChild("OPFMessageCopyAttachmentList"))
            readAttachments(doc, s);
        // A mail without an HTML body shows its plain text rather than an empty pane.
        std::string plain;
        if (doc.FindChild("OPFMessageCopyBody"))
            plain = doc.ChildText();
        if (doc.FindChild("OPFMessageCopyHTMLBody"))
            s.previewText = doc.ChildText();
        else if (!plain.empty())
            s.previewText =
                "<pre style=\"white-space: pre-wrap\">" + text::escapeHtml(plain) + "</pre>";
        else
            s.previewText.clear();
        if (doc.FindChild("OPFMessageGetHasHTML"))
            s.previewHasHtml = doc.ChildText();
        doc.Ascend();
    }
}

void renderDocument(MarkupDocument& doc, JobState& s) {
    if (doc.FindSibling("emails")) {
        MarkupDocument copy = doc;
        renderMails(copy, s);
    }
    if (doc.FindSibling("note")) {
        MarkupDocument copy = doc;
        if (copy.FindChild("OPFNoteCopyText"))
            s.previewText = copy.ChildText();
    }
    using Renderer = void (*)(PageBuilder&, JobState&);
    static constexpr std::array<std::pair<const char*, Renderer>, 4> kPages = {{
        {"task", [](PageBuilder& b, JobState&) { renderTask(b); }},
        {"contact", renderContact},
        {"group", renderGroup},
        {"appointment", [](PageBuilder& b, JobState&) { renderEvent(b); }},
    }};
    for (const auto& [element, render] : kPages) {
        if (!doc.FindSibling(element))
            continue;
        s.summarySubject.clear();
        s.summaryDate.clear();
        MarkupDocument copy = doc;
        PageBuilder builder(copy, s);
        render(builder, s);
        s.previewText = builder.page();
    }
}

void beginRender(JobState& s) {
    s.previewText.clear();
    s.previewHasHtml.clear();
    // The attachment list belongs to the item being previewed, never to the one before.
    s.pendingAttachments.clear();
    s.summaryHasAttachments = 0;
}

void renderLoaded(MarkupDocument& doc, JobState& s) {
    // A failure half-way keeps what was built so far.
    try {
        renderDocument(doc, s);
    } catch (...) {
    }
}

} // namespace

std::string PreviewDate(std::string_view elementText, PreviewDateFormat format) {
    // The text is split at its first 'T' and rejoined with a space; without a 'T' all of it is
    // taken as the time part.
    const std::string joined = platform::spacedDateText(elementText);
    const auto first = joined.find_first_not_of(' ');
    const auto utc =
        first == std::string::npos ? std::nullopt : platform::parseDateTime(joined.substr(first));
    if (!utc)
        return std::string(kInvalidDate);
    const auto tt = static_cast<std::time_t>(*utc);
    std::tm tm{};
    if (localtime_r(&tt, &tm) == nullptr || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 ||
        tm.tm_mon > 11)
        return std::string(kInvalidDate);
    char buf[96];
    const long long year = static_cast<long long>(tm.tm_year) + 1900;
    switch (format) {
    case PreviewDateFormat::Long:
        std::snprintf(buf, sizeof buf, "%s, %s %02d %lld ,%02d:%02d:%02d", kDayNames[tm.tm_wday],
                      kMonthNames[tm.tm_mon], tm.tm_mday, year, tm.tm_hour, tm.tm_min, tm.tm_sec);
        break;
    case PreviewDateFormat::DateTime:
        std::snprintf(buf, sizeof buf, "%02d/%02d/%lld %02d.%02d.%02d", tm.tm_mon + 1, tm.tm_mday,
                      year, tm.tm_hour, tm.tm_min, tm.tm_sec);
        break;
    case PreviewDateFormat::Date:
        std::snprintf(buf, sizeof buf, "%02d/%02d/%lld", tm.tm_mon + 1, tm.tm_mday, year);
        break;
    }
    return buf;
}

void RenderItemPreview(JobState& state, const std::string& xmlPath) {
    beginRender(state);
    MarkupDocument doc;
    if (!doc.LoadFile(xmlPath) && doc.Text().empty())
        return;
    renderLoaded(doc, state);
}

void RenderItemPreviewBytes(JobState& state, std::string_view documentBytes) {
    beginRender(state);
    MarkupDocument doc;
    if (!doc.LoadBytes(documentBytes) && doc.Text().empty())
        return;
    renderLoaded(doc, state);
}

} // namespace parvelle::mailbox
