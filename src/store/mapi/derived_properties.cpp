#include "store/mapi/derived_properties.h"

#include "platform/text.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/html_text.h"
#include "store/mapi/tags.h"

#include <cctype>
#include <type_traits>

namespace parvelle::mapi {

namespace {

bool isAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string joinDisplayNames(const Message& m, std::int32_t kind) {
    std::string out;
    for (const Recipient& r : m.recipients) {
        if (r.kind() != kind)
            continue;
        if (!out.empty())
            out += "; ";
        out += r.displayName();
    }
    return out;
}

void setIfMissing(PropertyBag& bag, PropTag tag, PropValue value) {
    if (!bag.has(tag))
        bag.set(tag, std::move(value));
}

// The same for a value worth building only when it is missing.
template <class Make>
requires std::is_invocable_r_v<PropValue, Make>
void setIfMissing(PropertyBag& bag, PropTag tag, Make&& make) {
    if (!bag.has(tag))
        bag.set(tag, make());
}

std::uint64_t valueSize(const PropValue& v) {
    return std::visit(
        [](const auto& x) -> std::uint64_t {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>)
                return x.size() * 2;
            else if constexpr (std::is_same_v<T, Binary>)
                return x.size();
            else if constexpr (std::is_same_v<T, std::monostate>)
                return 0;
            else if constexpr (requires { x.size(); })
                return x.size() * 8;
            else
                return sizeof(T);
        },
        v.storage());
}

std::uint64_t bagSize(const PropertyBag& bag) {
    std::uint64_t n = 0;
    for (const auto& [id, v] : bag.tagged())
        n += 8 + valueSize(v);
    for (const auto& [name, v] : bag.named())
        n += 8 + valueSize(v);
    return n;
}

void deriveRecipient(Recipient& r, std::size_t index) {
    PropertyBag& p = r.props;
    const std::string address = p.string(tags::kEmailAddress);
    if (p.stringView(tags::kDisplayName).empty())
        p.setString(tags::kDisplayName, address);
    if (p.stringView(tags::kAddressType).empty())
        p.setString(tags::kAddressType, "SMTP");
    const std::string name = p.string(tags::kDisplayName);
    const std::string type = p.string(tags::kAddressType);
    setIfMissing(p, tags::kRecipientType, PropValue::i4(tags::kRecipTo));
    setIfMissing(p, tags::kEntryId,
                 [&] { return PropValue::binary(oneOffEntryId(name, type, address)); });
    setIfMissing(p, tags::kRecordKey, [&] {
        const Binary* entryId = p.get(tags::kEntryId)->asBinary();
        return PropValue::binary(entryId ? *entryId : Binary{});
    });
    setIfMissing(p, tags::kSearchKey,
                 [&] { return PropValue::binary(addressSearchKey(type, address)); });
    setIfMissing(p, tags::kObjectType, PropValue::i4(tags::kObjectMailUser));
    setIfMissing(p, tags::kDisplayType, PropValue::i4(0)); // DT_MAILUSER
    setIfMissing(p, tags::kResponsibility, PropValue::boolean(false));
    setIfMissing(p, tags::kSendRichInfo, PropValue::boolean(false));
    setIfMissing(p, tags::kDisplayName7Bit, [&] { return PropValue::unicode(name); });
    setIfMissing(p, tags::kTransmittableDisplayName, [&] { return PropValue::unicode(name); });
    if (text::equalsIgnoreAsciiCase(type, "SMTP"))
        setIfMissing(p, tags::kSmtpAddress, [&] { return PropValue::unicode(address); });
    p.setInt(tags::kRowId, static_cast<std::int32_t>(index));
}

void deriveAttachment(Attachment& a, std::size_t index, const SaveOptions& options) {
    PropertyBag& p = a.props;
    p.setInt(tags::kAttachNumber, static_cast<std::int32_t>(index));
    p.setInt(tags::kAttachMethod, a.isEmbedded()
                                      ? tags::kAttachEmbeddedMessage
                                      : p.int32(tags::kAttachMethod, tags::kAttachByValue));
    setIfMissing(p, tags::kObjectType, PropValue::i4(tags::kObjectAttachment));
    setIfMissing(p, tags::kRenderingPosition, PropValue::i4(-1));
    setIfMissing(p, tags::kCreationTime, PropValue::time(options.now));
    setIfMissing(p, tags::kLastModificationTime, PropValue::time(options.now));
    if (a.isEmbedded()) {
        deriveOnSave(*a.embedded, options);
        if (p.string(tags::kDisplayName).empty())
            p.setString(tags::kDisplayName, a.embedded->props.string(tags::kSubject));
    } else {
        const std::string longName = p.string(tags::kAttachLongFilename);
        if (!longName.empty()) {
            setIfMissing(p, tags::kAttachFilename,
                         [&] { return PropValue::unicode(shortFileName(longName)); });
            setIfMissing(p, tags::kAttachExtension,
                         [&] { return PropValue::unicode(fileExtension(longName)); });
            if (p.string(tags::kDisplayName).empty())
                p.setString(tags::kDisplayName, longName);
        }
    }
    const std::uint64_t contentSize =
        a.isEmbedded() ? estimateMessageSize(*a.embedded) : a.content.size;
    const std::uint64_t size = contentSize + bagSize(p);
    p.setInt(tags::kAttachSize,
             static_cast<std::int32_t>(std::min<std::uint64_t>(size, 0x7FFFFFFF)));
}

} // namespace

SubjectParts splitSubject(std::string_view subject) {
    // A prefix is one to three letters followed by a colon, plus the spaces after it.
    std::size_t n = 0;
    while (n < subject.size() && n < 4 && isAsciiLetter(static_cast<unsigned char>(subject[n])))
        ++n;
    if (n >= 1 && n <= 3 && n < subject.size() && subject[n] == ':') {
        std::size_t end = n + 1;
        while (end < subject.size() && subject[end] == ' ')
            ++end;
        return {std::string(subject.substr(0, end)), std::string(subject.substr(end))};
    }
    return {std::string(), std::string(subject)};
}

std::string fileExtension(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name = name.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return {};
    return std::string(name.substr(dot));
}

std::string shortFileName(std::string_view longName) {
    const std::string ext = fileExtension(longName);
    std::string_view stem = longName.substr(0, longName.size() - ext.size());
    auto clean = [](std::string_view s, std::size_t max, bool& lossy) {
        std::string out;
        for (unsigned char c : s) {
            if (c == ' ' || c == '.' || (c & 0xC0) == 0x80) { // one '_' per non-ASCII character
                lossy = true;
                continue;
            }
            const bool ok = std::isalnum(c) ||
                            std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(c)) !=
                                std::string_view::npos;
            if (!ok)
                lossy = true;
            if (out.size() < max)
                out += ok ? static_cast<char>(std::toupper(c)) : '_';
            else
                lossy = true;
        }
        return out;
    };
    bool lossy = false;
    std::string base = clean(stem, 8, lossy);
    bool extLossy = false;
    std::string shortExt = ext.empty() ? std::string() : clean(ext.substr(1), 3, extLossy);
    if (lossy || extLossy || base.empty()) {
        if (base.size() > 6)
            base.resize(6);
        if (base.empty())
            base = "ATT";
        base += "~1";
    }
    return shortExt.empty() ? base : base + "." + shortExt;
}

std::uint64_t estimateMessageSize(const Message& m) {
    std::uint64_t n = bagSize(m.props);
    for (const Recipient& r : m.recipients)
        n += bagSize(r.props);
    for (const Attachment& a : m.attachments)
        n +=
            bagSize(a.props) + (a.isEmbedded() ? estimateMessageSize(*a.embedded) : a.content.size);
    return n;
}

void deriveOnSave(Message& m, const SaveOptions& options) {
    PropertyBag& p = m.props;
    setIfMissing(p, tags::kMessageClass, PropValue::unicode("IPM.Note"));

    // Subject, prefix, normalized subject and conversation topic.
    const std::string subject = p.string(tags::kSubject);
    SubjectParts parts = splitSubject(subject);
    if (const PropValue* prefix = p.get(tags::kSubjectPrefix);
        prefix && prefix->asString() && subject.starts_with(*prefix->asString()))
        parts = {*prefix->asString(), subject.substr(prefix->asString()->size())};
    p.setString(tags::kSubject, subject);
    p.setString(tags::kSubjectPrefix, parts.prefix);
    p.setString(tags::kNormalizedSubject, parts.normalized);
    setIfMissing(p, tags::kConversationTopic, [&] { return PropValue::unicode(parts.normalized); });

    // Recipients and the display lists built from them.
    for (std::size_t i = 0; i < m.recipients.size(); ++i)
        deriveRecipient(m.recipients[i], i);
    p.setString(tags::kDisplayTo, joinDisplayNames(m, tags::kRecipTo));
    p.setString(tags::kDisplayCc, joinDisplayNames(m, tags::kRecipCc));
    p.setString(tags::kDisplayBcc, joinDisplayNames(m, tags::kRecipBcc));

    // Sender: entry id and search key from the address; "sent representing" defaults to it.
    const std::string senderEmail = p.string(tags::kSenderEmail);
    if (!senderEmail.empty()) {
        if (p.string(tags::kSenderAddrType).empty())
            p.setString(tags::kSenderAddrType, "SMTP");
        if (p.string(tags::kSenderName).empty())
            p.setString(tags::kSenderName, senderEmail);
        const std::string type = p.string(tags::kSenderAddrType);
        const std::string name = p.string(tags::kSenderName);
        setIfMissing(p, tags::kSenderEntryId,
                     [&] { return PropValue::binary(oneOffEntryId(name, type, senderEmail)); });
        setIfMissing(p, tags::kSenderSearchKey,
                     [&] { return PropValue::binary(addressSearchKey(type, senderEmail)); });
        setIfMissing(p, tags::kSentRepresentingName, [&] { return PropValue::unicode(name); });
        setIfMissing(p, tags::kSentRepresentingEmail,
                     [&] { return PropValue::unicode(senderEmail); });
        setIfMissing(p, tags::kSentRepresentingAddrType, [&] { return PropValue::unicode(type); });
        setIfMissing(p, tags::kSentRepresentingEntryId,
                     [&] { return *p.get(tags::kSenderEntryId); });
        setIfMissing(p, tags::kSentRepresentingSearchKey,
                     [&] { return *p.get(tags::kSenderSearchKey); });
    }

    // Bodies: HTML kept as bytes (UTF-8 when given as text); plain text derived from HTML.
    if (const PropValue* html = p.get(tags::kHtml); html && html->asString()) {
        const std::string& text = *html->asString();
        p.setBinary(tags::kHtml, Binary(text.begin(), text.end()));
        setIfMissing(p, tags::kInternetCodepage, PropValue::i4(65001));
    }
    const PropValue* html = p.get(tags::kHtml);
    if (!p.has(tags::kBody) && html && html->asBinary()) {
        const Binary& bytes = *html->asBinary();
        p.setString(tags::kBody,
                    htmlToPlainText({reinterpret_cast<const char*>(bytes.data()), bytes.size()}));
    }
    if (!p.has(tags::kNativeBody))
        p.setInt(tags::kNativeBody, html ? 3 : (p.has(tags::kRtfCompressed) ? 2 : 1));
    setIfMissing(p, tags::kInternetCodepage, PropValue::i4(65001));

    // Times: creation and modification, submit and delivery (each defaults to the other, then
    // to creation) so that Outlook does not show the conversion date.
    setIfMissing(p, tags::kCreationTime, PropValue::time(options.now));
    setIfMissing(p, tags::kLastModificationTime, [&] { return *p.get(tags::kCreationTime); });
    if (!p.has(tags::kClientSubmitTime))
        p.set(tags::kClientSubmitTime, p.has(tags::kMessageDeliveryTime)
                                           ? *p.get(tags::kMessageDeliveryTime)
                                           : *p.get(tags::kCreationTime));
    setIfMissing(p, tags::kMessageDeliveryTime, [&] { return *p.get(tags::kClientSubmitTime); });

    setIfMissing(p, tags::kImportance, PropValue::i4(1));
    setIfMissing(p, tags::kPriority, PropValue::i4(0));
    setIfMissing(p, tags::kSensitivity, PropValue::i4(0));
    setIfMissing(p, tags::kMessageStatus, PropValue::i4(0));
    if (!p.has(tags::kSearchKey)) {
        const auto key = Guid::random().bytes();
        p.setBinary(tags::kSearchKey, Binary(key.begin(), key.end()));
    }

    // Attachments, then the flags that depend on them.
    for (std::size_t i = 0; i < m.attachments.size(); ++i)
        deriveAttachment(m.attachments[i], i, options);
    std::int32_t flags = p.int32(tags::kMessageFlags, tags::kMsgFlagRead);
    flags &= ~tags::kMsgFlagUnsent;
    if (m.attachments.empty())
        flags &= ~tags::kMsgFlagHasAttach;
    else
        flags |= tags::kMsgFlagHasAttach;
    p.setInt(tags::kMessageFlags, flags);
    p.setBool(tags::kHasAttachments, !m.attachments.empty());

    p.setInt(tags::kMessageSize, static_cast<std::int32_t>(
                                     std::min<std::uint64_t>(estimateMessageSize(m), 0x7FFFFFFF)));
}

} // namespace parvelle::mapi
