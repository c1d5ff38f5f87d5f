#include "items/file_names.h"
#include "mailbox/mailbox_converter.h"
#include "mailbox/summary_date.h"
#include "markup/markup_document.h"

namespace parvelle::mailbox {
namespace {

using markup::MarkupDocument;

std::string sanitized(const std::string& s) {
    return items::SanitizeFileName(s);
}

// Reads the entries of a list element: Descend, each child named `entry`, Ascend.
template <typename Visit>
void forEachEntry(MarkupDocument& doc, std::string_view entry, const JobState& state, Visit visit) {
    doc.Descend();
    while (state.stopRequested.load() == 0 && doc.FindChild(entry))
        visit();
    doc.Ascend();
}

void readMail(MarkupDocument& doc, JobState& s) {
    s.summaryHasAttachments = 0;
    if (doc.FindChild("OPFMessageCopyAttachmentList")) {
        forEachEntry(doc, "messageAttachment", s, [&] {
            std::string name = sanitized(doc.ChildAttribute("OPFAttachmentName"));
            const std::string extension = doc.ChildAttribute("OPFAttachmentContentExtension");
            const bool hasDot = name.find('.') != std::string::npos;
            if (!extension.empty() && !hasDot)
                name += "." + extension;
            else if (extension.empty() && !hasDot)
                name += ".eml";
            s.summaryAttachments.push_back({name, {}, {}});
            s.summaryHasAttachments = 1;
        });
    }
    if (doc.FindChild("OPFMessageCopyBCCAddresses"))
        forEachEntry(doc, "emailAddress", s, [] {});
    s.summaryCc.clear();
    if (doc.FindChild("OPFMessageCopyCCAddresses")) {
        forEachEntry(doc, "emailAddress", s, [&] {
            if (!s.summaryCc.empty())
                s.summaryCc += ',';
            s.summaryCc += doc.ChildAttribute("OPFContactEmailAddressAddress");
        });
    }
    s.summaryFrom.clear();
    if (doc.FindChild("OPFMessageCopyFromAddresses")) {
        doc.Descend();
        if (doc.FindChild("emailAddress")) {
            const std::string address =
                sanitized(doc.ChildAttribute("OPFContactEmailAddressAddress"));
            const std::string name = sanitized(doc.ChildAttribute("OPFContactEmailAddressName"));
            s.summaryFrom = address.empty() ? name : address;
        }
        doc.Ascend();
    }
    doc.FindChild("OPFMessageCopyReceivedTime");
    if (doc.FindChild("OPFMessageCopySentTime"))
        s.summaryDate = summaryDateText(doc.ChildText());
    s.summarySubject =
        doc.FindChild("OPFMessageCopySubject") ? sanitized(doc.ChildText()) : "Unknown";
    s.summaryTo.clear();
    if (doc.FindChild("OPFMessageCopyToAddresses")) {
        forEachEntry(doc, "emailAddress", s, [&] {
            const std::string address =
                sanitized(doc.ChildAttribute("OPFContactEmailAddressAddress"));
            const std::string name = sanitized(doc.ChildAttribute("OPFContactEmailAddressName"));
            if (!s.summaryTo.empty())
                s.summaryTo += ',';
            s.summaryTo += address.empty() ? name : address;
        });
    }
}

void readEmails(MarkupDocument& doc, JobState& s) {
    while (s.stopRequested.load() == 0 && doc.FindChild("email")) {
        doc.Descend();
        readMail(doc, s);
        doc.Ascend();
    }
}

// Text of a title element, or the given fallback when the element is absent.
std::string titleOr(MarkupDocument& doc, std::string_view element, const char* fallback) {
    return doc.FindChild(element) ? doc.ChildText() : std::string(fallback);
}

void readNote(MarkupDocument& doc, JobState& s) {
    if (doc.FindChild("OPFNoteCopyCreationDate"))
        s.summaryDate = summaryDateText(doc.ChildText());
    doc.FindChild("OPFNoteCopyFolderRecordUID");
    s.summarySubject = titleOr(doc, "OPFNoteCopyTitle", "Unknown");
    s.log.AppendLogRow("Note", s.summarySubject, "Converted");
}

void readTask(MarkupDocument& doc, JobState& s) {
    if (doc.FindChild("OPFTaskCopyModDate"))
        s.summaryDate = summaryDateText(doc.ChildText());
    s.summarySubject = titleOr(doc, "OPFTaskCopyName", "Unknown");
    s.log.AppendLogRow("Task", s.summarySubject, "Converted");
}

void readEvent(MarkupDocument& doc, JobState& s) {
    if (doc.FindChild("OPFCalendarEventCopyAttendeeList")) {
        forEachEntry(doc, "appointmentAttendee", s, [&] {
            std::string who = doc.ChildAttribute("OPFCalendarAttendeeAddress");
            if (who.empty())
                who = doc.ChildAttribute("OPFCalendarAttendeeName");
            s.summaryTo += who + ",";
        });
    }
    if (doc.FindChild("OPFCalendarEventCopyOrganizer"))
        s.summaryFrom = doc.ChildText();
    if (doc.FindChild("OPFCalendarEventCopyStartTime"))
        s.summaryDate = summaryDateText(doc.ChildText());
    s.summarySubject = titleOr(doc, "OPFCalendarEventCopySummary", "Unknwon");
    s.log.AppendLogRow("Calendar", s.summarySubject, "Converted");
}

void readContact(MarkupDocument& doc, JobState& s) {
    for (const char* list :
         {"OPFContactCopyDefaultEmailAddress", "OPFContactCopyDefaultIMAddress"}) {
        if (doc.FindChild(list)) {
            doc.Descend();
            doc.FindChild("contactEmailAddress");
            doc.Ascend();
        }
    }
    s.summarySubject = titleOr(doc, "OPFContactCopyDisplayName", "Unknwon");
    if (doc.FindChild("OPFContactCopyEmailAddressList"))
        forEachEntry(doc, "contactEmailAddress", s, [] {});
    if (doc.FindChild("OPFContactCopyModDate"))
        s.summaryDate = summaryDateText(doc.ChildText());
    s.log.AppendLogRow("Contact", s.summarySubject, "Converted");
}

void readGroup(MarkupDocument& doc, JobState& s) {
    s.summarySubject = titleOr(doc, "OPFGroupCopyDisplayName", "Unknown");
    if (doc.FindChild("OPFGroupCopyMemberList"))
        forEachEntry(doc, "emailAddress", s, [] {});
    if (doc.FindChild("OPFGroupCopyModDate"))
        s.summaryDate = summaryDateText(doc.ChildText());
    s.log.AppendLogRow("Contact Group", s.summarySubject, "Converted");
}

} // namespace

std::string MailboxConverter::summarize(std::string_view documentBytes) {
    // Every item starts from empty summary fields, so nothing of the previous item shows up in
    // this one's record.
    state_.summaryFrom.clear();
    state_.summaryTo.clear();
    state_.summaryCc.clear();
    state_.summaryDate.clear();
    state_.summarySubject.clear();
    state_.summaryHasAttachments = 0;
    state_.summaryAttachments.clear();

    MarkupDocument doc;
    if (!doc.LoadBytes(documentBytes) && doc.Text().empty())
        return {};
    struct Reader {
        const char* element;
        const char* kind;
        void (*read)(MarkupDocument&, JobState&);
    };
    static constexpr Reader kReaders[] = {
        {"emails", "email", readEmails},     {"note", "note", readNote},
        {"task", "task", readTask},          {"appointment", "appointment", readEvent},
        {"contact", "contact", readContact}, {"group", "group", readGroup},
    };
    for (const Reader& reader : kReaders) {
        if (doc.FindSibling(reader.element)) {
            MarkupDocument positioned = doc;
            reader.read(positioned, state_);
            return reader.kind;
        }
    }
    return {};
}

} // namespace parvelle::mailbox
