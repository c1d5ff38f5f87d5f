#include "mailbox/item_summary.h"

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
void forEachEntry(MarkupDocument& doc, std::string_view entry,
                  const std::atomic<std::int32_t>& stop, Visit visit) {
    doc.Descend();
    while (stop.load(std::memory_order_relaxed) == 0 && doc.FindChild(entry))
        visit();
    doc.Ascend();
}

// What a reader writes to, and the stop flag its entry loops watch.
struct Target {
    ItemSummary& s;
    const std::atomic<std::int32_t>& stop;
};

void readMail(MarkupDocument& doc, Target& t) {
    ItemSummary& s = t.s;
    s.hasAttachments = 0;
    if (doc.FindChild("OPFMessageCopyAttachmentList")) {
        forEachEntry(doc, "messageAttachment", t.stop, [&] {
            std::string name = sanitized(doc.ChildAttribute("OPFAttachmentName"));
            const std::string extension = doc.ChildAttribute("OPFAttachmentContentExtension");
            const bool hasDot = name.find('.') != std::string::npos;
            if (!extension.empty() && !hasDot)
                name += "." + extension;
            else if (extension.empty() && !hasDot)
                name += ".eml";
            s.attachments.push_back({name, {}, {}});
            s.hasAttachments = 1;
        });
    }
    if (doc.FindChild("OPFMessageCopyBCCAddresses"))
        forEachEntry(doc, "emailAddress", t.stop, [] {});
    s.cc.clear();
    if (doc.FindChild("OPFMessageCopyCCAddresses")) {
        forEachEntry(doc, "emailAddress", t.stop, [&] {
            if (!s.cc.empty())
                s.cc += ',';
            s.cc += doc.ChildAttribute("OPFContactEmailAddressAddress");
        });
    }
    s.from.clear();
    if (doc.FindChild("OPFMessageCopyFromAddresses")) {
        doc.Descend();
        if (doc.FindChild("emailAddress")) {
            const std::string address =
                sanitized(doc.ChildAttribute("OPFContactEmailAddressAddress"));
            const std::string name = sanitized(doc.ChildAttribute("OPFContactEmailAddressName"));
            s.from = address.empty() ? name : address;
        }
        doc.Ascend();
    }
    doc.FindChild("OPFMessageCopyReceivedTime");
    if (doc.FindChild("OPFMessageCopySentTime"))
        s.date = summaryDateText(doc.ChildText());
    s.subject = doc.FindChild("OPFMessageCopySubject") ? sanitized(doc.ChildText()) : "Unknown";
    s.to.clear();
    if (doc.FindChild("OPFMessageCopyToAddresses")) {
        forEachEntry(doc, "emailAddress", t.stop, [&] {
            const std::string address =
                sanitized(doc.ChildAttribute("OPFContactEmailAddressAddress"));
            const std::string name = sanitized(doc.ChildAttribute("OPFContactEmailAddressName"));
            if (!s.to.empty())
                s.to += ',';
            s.to += address.empty() ? name : address;
        });
    }
}

void readEmails(MarkupDocument& doc, Target& t) {
    while (t.stop.load(std::memory_order_relaxed) == 0 && doc.FindChild("email")) {
        doc.Descend();
        readMail(doc, t);
        doc.Ascend();
    }
}

// Text of a title element, or the given fallback when the element is absent.
std::string titleOr(MarkupDocument& doc, std::string_view element, const char* fallback) {
    return doc.FindChild(element) ? doc.ChildText() : std::string(fallback);
}

void readNote(MarkupDocument& doc, Target& t) {
    ItemSummary& s = t.s;
    if (doc.FindChild("OPFNoteCopyCreationDate"))
        s.date = summaryDateText(doc.ChildText());
    doc.FindChild("OPFNoteCopyFolderRecordUID");
    s.subject = titleOr(doc, "OPFNoteCopyTitle", "Unknown");
    s.logType = "Note";
}

void readTask(MarkupDocument& doc, Target& t) {
    ItemSummary& s = t.s;
    if (doc.FindChild("OPFTaskCopyModDate"))
        s.date = summaryDateText(doc.ChildText());
    s.subject = titleOr(doc, "OPFTaskCopyName", "Unknown");
    s.logType = "Task";
}

void readEvent(MarkupDocument& doc, Target& t) {
    ItemSummary& s = t.s;
    if (doc.FindChild("OPFCalendarEventCopyAttendeeList")) {
        forEachEntry(doc, "appointmentAttendee", t.stop, [&] {
            std::string who = doc.ChildAttribute("OPFCalendarAttendeeAddress");
            if (who.empty())
                who = doc.ChildAttribute("OPFCalendarAttendeeName");
            s.to += who + ",";
        });
    }
    if (doc.FindChild("OPFCalendarEventCopyOrganizer"))
        s.from = doc.ChildText();
    if (doc.FindChild("OPFCalendarEventCopyStartTime"))
        s.date = summaryDateText(doc.ChildText());
    s.subject = titleOr(doc, "OPFCalendarEventCopySummary", "Unknwon");
    s.logType = "Calendar";
}

void readContact(MarkupDocument& doc, Target& t) {
    ItemSummary& s = t.s;
    for (const char* list :
         {"OPFContactCopyDefaultEmailAddress", "OPFContactCopyDefaultIMAddress"}) {
        if (doc.FindChild(list)) {
            doc.Descend();
            doc.FindChild("contactEmailAddress");
            doc.Ascend();
        }
    }
    s.subject = titleOr(doc, "OPFContactCopyDisplayName", "Unknwon");
    if (doc.FindChild("OPFContactCopyEmailAddressList"))
        forEachEntry(doc, "contactEmailAddress", t.stop, [] {});
    if (doc.FindChild("OPFContactCopyModDate"))
        s.date = summaryDateText(doc.ChildText());
    s.logType = "Contact";
}

void readGroup(MarkupDocument& doc, Target& t) {
    ItemSummary& s = t.s;
    s.subject = titleOr(doc, "OPFGroupCopyDisplayName", "Unknown");
    if (doc.FindChild("OPFGroupCopyMemberList"))
        forEachEntry(doc, "emailAddress", t.stop, [] {});
    if (doc.FindChild("OPFGroupCopyModDate"))
        s.date = summaryDateText(doc.ChildText());
    s.logType = "Contact Group";
}

} // namespace

ItemSummary summarizeItem(std::string_view documentBytes, const std::atomic<std::int32_t>& stop) {
    ItemSummary summary;
    MarkupDocument doc;
    if (!doc.LoadBytes(documentBytes) && doc.Text().empty())
        return summary;
    struct Reader {
        const char* element;
        const char* kind;
        void (*read)(MarkupDocument&, Target&);
    };
    static constexpr Reader kReaders[] = {
        {"emails", "email", readEmails},     {"note", "note", readNote},
        {"task", "task", readTask},          {"appointment", "appointment", readEvent},
        {"contact", "contact", readContact}, {"group", "group", readGroup},
    };
    for (const Reader& reader : kReaders) {
        if (doc.FindSibling(reader.element)) {
            Target target{summary, stop};
            reader.read(doc, target);
            summary.kind = reader.kind;
            return summary;
        }
    }
    return summary;
}

std::string MailboxConverter::applySummary(ItemSummary&& summary) {
    // Every item starts from empty summary fields, so nothing of the previous item shows up in
    // this one's record.
    state_.summaryFrom = std::move(summary.from);
    state_.summaryTo = std::move(summary.to);
    state_.summaryCc = std::move(summary.cc);
    state_.summaryDate = std::move(summary.date);
    state_.summarySubject = std::move(summary.subject);
    state_.summaryHasAttachments = summary.hasAttachments;
    state_.summaryAttachments = std::move(summary.attachments);
    if (!summary.logType.empty())
        state_.log.AppendLogRow(std::string(summary.logType), state_.summarySubject, "Converted");
    return std::move(summary.kind);
}

std::string MailboxConverter::summarize(std::string_view documentBytes) {
    return applySummary(summarizeItem(documentBytes, state_.stopRequested));
}

} // namespace parvelle::mailbox
