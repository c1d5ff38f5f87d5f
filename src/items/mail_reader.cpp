#include "items/mail_reader.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "items/file_names.h"
#include "items/message_writer.h"
#include "mailbox/member_paths.h"
#include "platform/datetime.h"
#include "store/component/mail_item.h"

namespace parvelle::items {
namespace fs = std::filesystem;
using mailbox::SaveFormat;

namespace {

std::string trimmed(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

// Appends one recipient read from the current "emailAddress" child to the holder's list and to
// the slot's comma-separated text.
void readRecipient(MarkupDocument& doc, std::int32_t kind, std::string* list, ItemHolder& holder) {
    RecipientNode node;
    node.kind = kind;
    node.address = doc.ChildAttribute("OPFContactEmailAddressAddress");
    node.name = doc.ChildAttribute("OPFContactEmailAddressName");
    if (node.name.empty())
        node.name = node.address;
    if (list != nullptr) {
        if (!list->empty())
            *list += ',';
        *list += node.address.empty() ? node.name : node.address;
    }
    holder.recipients.push_back(std::move(node));
}

void readRecipientList(MarkupDocument& doc, std::int32_t kind, std::string& list,
                       ItemHolder& holder, const ItemConversion& conv) {
    doc.Descend();
    while (!conv.stopRequested() && doc.FindChild("emailAddress"))
        readRecipient(doc, kind, &list, holder);
    doc.Ascend();
}

} // namespace

void ReadAttachmentEntry(MarkupDocument& doc, mailbox::JobState& state) {
    std::string name = SanitizeFileName(doc.ChildAttribute("OPFAttachmentName"));
    const std::string extension = doc.ChildAttribute("OPFAttachmentContentExtension");
    if (name.find('.') == std::string::npos)
        name += extension.empty() ? ".eml" : "." + extension;
    state.summaryHasAttachments = 1;
    const std::string url = doc.ChildAttribute("OPFAttachmentURL");
    state.pendingAttachments.push_back({std::move(name), AttachmentMemberKeyFromUrl(url), url});
}

namespace {

// Leading decimal digits as an integer (0 when there are none).
std::int32_t leadingInteger(std::string_view text) {
    const std::string t = trimmed(text);
    std::int64_t value = 0;
    std::size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (negative || (!t.empty() && t[0] == '+'))
        i = 1;
    for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && value < 1'000'000'000;
         ++i)
        value = value * 10 + (t[i] - '0');
    return static_cast<std::int32_t>(negative ? -value : value);
}

// Archive flags are written as numbers ("1E0", "0E0", "1", "0").
bool flagIsSet(std::string_view text) {
    const std::string t = trimmed(text);
    if (t.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str())
        return v != 0;
    return t == "true" || t == "TRUE" || t == "True";
}

void readEmail(MarkupDocument& doc, ItemHolder& holder, ItemConversion& conv) {
    auto& state = conv.state;
    ItemRecord& record = *holder.record;
    if (doc.FindChild("OPFMessageCopyAttachmentList")) {
        doc.Descend();
        while (!conv.stopRequested() && doc.FindChild("messageAttachment"))
            ReadAttachmentEntry(doc, conv.state);
        doc.Ascend();
    }
    if (doc.FindChild("OPFMessageCopyBCCAddresses"))
        readRecipientList(doc, kBcc, record.bcc, holder, conv);
    if (doc.FindChild("OPFMessageCopyBody"))
        conv.bodyText = doc.ChildText();
    if (doc.FindChild("OPFMessageCopyCCAddresses"))
        readRecipientList(doc, kCc, record.cc, holder, conv);
    if (doc.FindChild("OPFMessageCopyFromAddresses")) {
        doc.Descend();
        if (doc.FindChild("emailAddress")) {
            readRecipient(doc, kSender, nullptr, holder);
            const RecipientNode& sender = holder.recipients.back();
            record.from = sender.address.empty() ? sender.name : sender.address;
        }
        doc.Ascend();
    }
    if (doc.FindChild("OPFMessageCopyHTMLBody"))
        conv.htmlBody = doc.ChildText();
    if (doc.FindChild("OPFMessageCopyReceivedTime"))
        record.receivedTime = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFMessageCopySentTime"))
        record.sentTime = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFMessageCopySubject")) {
        record.subject = doc.ChildText();
        state.summarySubject = record.subject;
        state.currentSubject = record.subject;
        conv.progress();
        conv.logItem("Message", record.subject);
    } else {
        state.currentSubject.clear();
    }
    if (doc.FindChild("OPFMessageCopyToAddresses"))
        readRecipientList(doc, kTo, record.to, holder, conv);
    doc.FindChild("OPFMessageGetCalendarAcceptStatus");
    if (doc.FindChild("OPFMessageGetHasHTML"))
        record.hasHtml = doc.ChildText();
    doc.FindChild("OPFMessageGetHasRichText");
    if (doc.FindChild("OPFMessageGetIsRead")) {
        // The read state travels as the message flags and the unread marker of the holder.
        const bool read = flagIsSet(doc.ChildText());
        holder.messageFlags = read ? 1 : 0;
        holder.unread = read ? 0 : 1;
    }
    doc.FindChild("OPFMessageGetOverrideEncoding");
    if (doc.FindChild("OPFMessageGetPriority"))
        record.priority = leadingInteger(doc.ChildText());
    for (const char* name :
         {"OPFMessageGetWasSent", "OPFMessageIsCalendarMessage", "OPFMessageIsMeeting",
          "OPFMessageIsOutgoing", "OPFMessageIsOutgoingMeetingResponse"})
        doc.FindChild(name);
}

} // namespace

DateStamp ParseDateStamp(std::string_view text) {
    const std::string joined = platform::spacedDateText(text);
    const auto parsed = platform::parseDateTime(trimmed(joined));
    if (!parsed)
        return {0, kDateInvalid};
    return {platform::oleDateFromUnix(*parsed), kDateValid};
}

std::string AttachmentMemberKeyFromUrl(std::string_view url) {
    const std::string_view part = mailbox::textAfterLast(url, "/");
    return mailbox::attachmentKeyFromParts(part, part);
}

const mailbox::ItemSource* FindAttachmentMember(const mailbox::JobState& state,
                                                const mailbox::AttachmentInfo& attachment) {
    if (!attachment.memberPath.empty())
        if (const auto it = state.memberPaths.find(attachment.memberPath);
            it != state.memberPaths.end())
            return &it->second;
    if (!attachment.memberKey.empty())
        if (const auto it = state.archiveMembers.find(attachment.memberKey);
            it != state.archiveMembers.end())
            return &it->second;
    return nullptr;
}

void ExtractAttachments(ItemConversion& conv) {
    auto& state = conv.state;
    state.extractedAttachments.clear();
    state.extractedPaths.clear();
    std::set<std::string> taken;
    for (const mailbox::AttachmentInfo& pending : state.pendingAttachments) {
        if (conv.stopRequested())
            break;
        state.attachmentsFolder = (fs::path(state.tempFolder) / "Attachments").string();
        const mailbox::ItemSource* source = FindAttachmentMember(state, pending);
        if (source == nullptr)
            continue;
        if (conv.openArchiveMember) {
            auto content = conv.openArchiveMember(*source);
            if (!content)
                continue;
            const std::string path = (fs::path(state.attachmentsFolder) /
                                      UniqueAttachmentFileName(pending.displayName, taken))
                                         .string();
            component::registerAttachmentSource(path, std::move(*content));
            state.extractedAttachments.push_back({pending.displayName, path});
            state.extractedPaths.push_back(path);
            continue;
        }
        const auto data = conv.readArchive(*source);
        if (!data)
            continue;
        std::error_code ec;
        fs::create_directories(state.attachmentsFolder, ec);
        // Two attachments of one mail may share a display name: each gets its own file.
        const fs::path target = fs::path(state.attachmentsFolder) /
                                UniqueAttachmentFileName(pending.displayName, taken);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out)
            continue;
        out.write(data->data(), static_cast<std::streamsize>(data->size()));
        out.close();
        if (!out) {
            fs::remove(target, ec);
            continue;
        }
        state.extractedAttachments.push_back({pending.displayName, target.string()});
        state.extractedPaths.push_back(target.string());
    }
}

void DiscardExtractedAttachment(const std::string& path) {
    // A registered source names no file on disk.
    std::error_code ec;
    if (!component::unregisterAttachmentSource(path))
        fs::remove(path, ec);
}

void RemoveExtractedAttachments(ItemConversion& conv) {
    for (const std::string& path : conv.state.extractedPaths)
        DiscardExtractedAttachment(path);
    conv.state.extractedPaths.clear();
    conv.state.extractedAttachments.clear();
}

void ReadEmails(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
                ItemConversion& conv) {
    auto& state = conv.state;
    state.pendingAttachments.clear();
    state.summaryFrom.clear();
    state.summaryTo.clear();
    state.summaryDate.clear();
    state.summarySubject.clear();
    state.summaryHasAttachments = 0;
    holder.record = std::make_unique<ItemRecord>();
    holder.kind = 1;
    // Read state unknown until the document says: written as read, like the archive's default.
    holder.messageFlags = 1;
    holder.unread = 0;

    while (!conv.stopRequested() && doc.FindChild("email")) {
        doc.Descend();
        try {
            readEmail(doc, holder, conv);
        } catch (const std::exception&) {
            doc.Ascend();
            break;
        }
        doc.Ascend();
    }

    if (state.summaryHasAttachments != 0)
        ExtractAttachments(conv);
    // The extracted files are gone afterwards, whether the write succeeded or not.
    struct Cleanup {
        ItemConversion& conv;
        ~Cleanup() { RemoveExtractedAttachments(conv); }
    } cleanup{conv};
    switch (state.saveFormat) {
    case SaveFormat::Pst:
    case SaveFormat::Office365:
        WriteMailToStore(folder, holder, conv);
        break;
    case SaveFormat::Msg:
    case SaveFormat::Eml:
    case SaveFormat::Rtf:
    case SaveFormat::Html:
    case SaveFormat::Pdf:
        WriteMailToFile(folder, holder, conv);
        break;
    default:
        break;
    }
}

} // namespace parvelle::items
