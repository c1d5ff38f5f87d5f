#include "items/message_writer.h"

#include <filesystem>

#include "items/mail_reader.h"

namespace parvelle::items {
namespace {

using component::ComponentError;
using component::Date;
using component::ObjectRef;
using component::Variant;

// Message dispatch ids the mail writers call.
enum : std::int32_t {
    kSubject = 0x00,
    kFields = 0x03, // indexed put by MAPI tag
    kSave = 0x06,
    kBcc = 0x09,
    kBody = 0x0B,
    kCc = 0x0E,
    kHtmlBody = 0x1A,
    kImportance = 0x1B,
    kMessageClass = 0x1E,
    kSent = 0x38,
    kTo = 0x40,
    kUnread = 0x41,
    kAttachments = 0x49,
    kRecipients = 0x4D,
};

// Tags written through the indexed put.
enum : std::int32_t {
    kTagMessageFlags = 0x0E070003,
    kTagSenderAddrType = 0x0C1E001E,
    kTagSenderName = 0x0C1A001F,
    kTagClientSubmitTime = 0x00390040,
    kTagDeliveryTime = 0x0E060040,
    kTagSentRepresentingAddrType = 0x0064001E,
    kTagSentRepresentingName = 0x0042001F,
    kTagAttachFilename = 0x3704001E,
    kTagAttachLongFilename = 0x3707001E,
};

void putTag(const ObjectRef& object, std::int32_t tag, Variant value) {
    object->putIndexed(kFields, {tag, std::move(value)});
}

void addRecipients(const ObjectRef& message, ItemHolder& holder, ItemConversion& conv) {
    const ItemRecord& record = *holder.record;
    if (holder.recipients.empty()) {
        if (!record.to.empty())
            message->put(kTo, record.to);
        if (!record.cc.empty())
            message->put(kCc, record.cc);
        if (!record.bcc.empty())
            message->put(kBcc, record.bcc);
        return;
    }
    const ObjectRef recipients = message->get(kRecipients).toObject();
    if (!recipients)
        return;
    for (RecipientNode& node : holder.recipients) {
        if (conv.stopRequested())
            break;
        if (node.addressType.empty())
            node.addressType = "SMTP";
        recipients->call(3, {node.name, node.address, node.addressType, node.kind});
    }
}

void writeBody(const ObjectRef& message, const ItemRecord& record, ItemConversion& conv) {
    const bool html = record.hasHtml == "1E0" || record.hasHtml == "1";
    // A mail flagged as HTML whose HTML body is empty keeps its plain body rather than none.
    if (html && !conv.htmlBody.empty()) {
        message->put(kHtmlBody, conv.htmlBody);
        conv.htmlBody.clear();
    } else if (!conv.bodyText.empty()) {
        message->put(kBody, conv.bodyText);
        conv.bodyText.clear();
    }
}

void addAttachments(const ObjectRef& message, ItemConversion& conv) {
    auto& state = conv.state;
    if (state.extractedAttachments.empty())
        return;
    const ObjectRef attachments = message->get(kAttachments).toObject();
    if (!attachments)
        return;
    std::int32_t position = 1;
    for (const mailbox::AttachmentBasicInfo& entry : state.extractedAttachments) {
        if (conv.stopRequested())
            break;
        const ObjectRef attachment =
            attachments
                ->call(0x65, {entry.filePath, component::Missing{}, position, entry.displayName})
                .toObject();
        if (attachment) {
            putTag(attachment, kTagAttachFilename, entry.displayName);
            putTag(attachment, kTagAttachLongFilename, entry.displayName);
            attachment->call(kSave);
        }
        ++position;
        // The attachment keeps its bytes open, so the file can go now (and needs no cleanup).
        DiscardExtractedAttachment(entry.filePath);
        std::erase(state.extractedPaths, entry.filePath);
    }
    state.extractedAttachments.clear();
}

void writeSenderAndTimes(const ObjectRef& message, ItemRecord& record) {
    const bool hasTime = record.sentTime.value != 0 || record.receivedTime.value != 0;
    if (hasTime) {
        if (record.receivedTime.value == 0)
            record.receivedTime = record.sentTime;
        if (record.sentTime.value == 0)
            record.sentTime = record.receivedTime;
    }
    // The sender is written also for a mail that carries no time at all; only the times need
    // one.
    if (!hasTime && record.from.empty())
        return;
    putTag(message, kTagSenderAddrType, "SMTP");
    putTag(message, kTagSenderName, record.from);
    if (hasTime) {
        putTag(message, kTagClientSubmitTime, Date{record.sentTime.value});
        putTag(message, kTagDeliveryTime, Date{record.receivedTime.value});
    }
    putTag(message, kTagSentRepresentingAddrType, "SMTP");
    putTag(message, kTagSentRepresentingName, record.from);
}

} // namespace

void FillMailMessage(const ObjectRef& message, ItemHolder& holder, ItemConversion& conv) {
    message->put(kMessageClass, "IPM.Note");
    putTag(message, kTagMessageFlags, holder.messageFlags > 7 ? 1 : holder.messageFlags);
    if (holder.record) {
        ItemRecord& record = *holder.record;
        if (holder.unread == 0)
            message->put(kUnread, false);
        addRecipients(message, holder, conv);
        message->put(kSubject, record.subject.empty() ? std::string("Unknown") : record.subject);
        writeBody(message, record, conv);
        addAttachments(message, conv);
        writeSenderAndTimes(message, record);
        if (record.priority == 2) {
            message->put(kImportance, 2);
        } else if (record.priority == 4) {
            record.priority = 0;
            message->put(kImportance, 0);
        }
        message->put(kSent, true);
    }
    message->call(kSave);
}

void WriteMailToStore(const ObjectRef& folder, ItemHolder& holder, ItemConversion& conv) {
    if (!folder)
        return;
    const ObjectRef items = folder->get(0x11).toObject();
    if (!items)
        return;
    const ObjectRef message = items->call(4, {"IPM.Note"}).toObject();
    if (!message)
        return;
    FillMailMessage(message, holder, conv);
}

} // namespace parvelle::items
