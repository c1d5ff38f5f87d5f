#include "store/component/mail_item.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

#include "platform/datetime.h"
#include "store/component/item_kind.h"
#include "store/mapi/tags.h"

namespace parvelle::component {
namespace {

namespace tags = mapi::tags;
using mapi::PropType;

// Named properties behind the item's reminder members (MS-OXPROPS, PSETID_Common). Built on
// use: the property set's GUID is a constant of another file, not yet set during static
// initialisation.
mapi::NamedProperty common(std::uint32_t id) {
    return {mapi::psets::kCommon, id};
}
mapi::NamedProperty reminderSet() {
    return common(0x8503);
} // PidLidReminderSet
mapi::NamedProperty reminderTime() {
    return common(0x8502);
} // PidLidReminderTime
mapi::NamedProperty reminderSignalTime() {
    return common(0x8560);
} // PidLidReminderSignalTime

// The item's dispatch ids. What each one means in the message:
enum ItemDispid : std::int32_t {
    kSubject = 0x00,      // Subject: PidTagSubject
    kIndexedField = 0x03, // Fields(tag) = value: any MAPI property by its tag
    kNamedTag = 0x02,     // GetIDsFromNames(set, id|name): tag id of a named property
    kSave = 0x06,         // Save: commit the message to its folder or file
    kBcc = 0x09,          // BCC: Bcc recipient rows (one-off) and PidTagDisplayBcc
    kBody = 0x0B,         // Body: PidTagBody
    kCc = 0x0E,           // CC: Cc recipient rows (one-off) and PidTagDisplayCc
    kHtmlBody = 0x1A,     // HTMLBody: PidTagHtml (UTF-8 bytes, internet code page 65001)
    kImportance = 0x1B,   // Importance: PidTagImportance (0 low, 1 normal, 2 high)
    kMessageClass = 0x1E, // MessageClass: PidTagMessageClass
    kReminderOn = 0x2D,   // ReminderSet: PidLidReminderSet
    kReminderAt = 0x2F,   // ReminderTime (local): PidLidReminderTime and ...SignalTime
    kSenderText = 0x34,   // SenderName: PidTagSenderName
    kConversion = 0x37,   // conversion step: 2 removes the item's own intermediate file
    kSent = 0x38,         // Sent = true before the first save: clears MSGFLAG_UNSENT
    kTo = 0x40,           // To: To recipient rows (one-off) and PidTagDisplayTo
    kUnread = 0x41,       // UnRead: clears (true) or sets (false) MSGFLAG_READ
    kSaveAs = 0x48,       // SaveAs(path, type[, fd]): write the message as a file; with the
                          // descriptor of an empty file the caller reserved at path, into it
    kAttachments = 0x49,  // Attachments collection
    kRecipients = 0x4D,   // Recipients collection
};

std::int32_t flags(const mapi::Message& m) {
    return m.props.int32(tags::kMessageFlags, tags::kMsgFlagUnsent);
}

// Splits "a@x, B <b@y>; c" into (name, address) pairs.
std::vector<std::pair<std::string, std::string>> splitAddressList(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string current;
    bool quoted = false;
    auto flush = [&] {
        std::string entry = current;
        current.clear();
        const auto b = entry.find_first_not_of(" \t");
        const auto e = entry.find_last_not_of(" \t");
        if (b == std::string::npos)
            return;
        entry = entry.substr(b, e - b + 1);
        const auto lt = entry.rfind('<');
        const auto gt = entry.rfind('>');
        if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
            std::string name = entry.substr(0, lt);
            const std::string address = entry.substr(lt + 1, gt - lt - 1);
            while (!name.empty() && (name.back() == ' ' || name.back() == '"'))
                name.pop_back();
            while (!name.empty() && (name.front() == ' ' || name.front() == '"'))
                name.erase(0, 1);
            out.emplace_back(name.empty() ? address : name, address);
        } else {
            out.emplace_back(entry, entry);
        }
    };
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (!quoted && (c == ',' || c == ';')) {
            flush();
            continue;
        }
        current.push_back(c);
    }
    flush();
    return out;
}

mapi::PropValue valueForTag(mapi::PropTag tag, const Variant& v) {
    const PropType type = mapi::tagType(tag);
    switch (type) {
    case PropType::Unicode:
    case PropType::String8:
        // 8-bit text would lose every character outside one code page; the engine stores text
        // as Unicode whatever type the caller named.
        return mapi::PropValue::unicode(v.toString());
    case PropType::Long:
        return mapi::PropValue::i4(v.toInt());
    case PropType::I2:
        return mapi::PropValue::i2(static_cast<std::int16_t>(v.toInt()));
    case PropType::Boolean:
        return mapi::PropValue::boolean(v.toBool());
    case PropType::Double:
    case PropType::AppTime:
        return {type, v.toDouble()};
    case PropType::I8:
        return mapi::PropValue::i8(static_cast<std::int64_t>(v.toDouble()));
    case PropType::SysTime:
        // Times written by tag are UTC instants.
        return mapi::PropValue::time(fileTimeFromUtcDate(v.toDate()));
    case PropType::Binary: {
        const std::string s = v.toString();
        return mapi::PropValue::binary(mapi::Binary(s.begin(), s.end()));
    }
    default:
        throw ComponentError("This property type cannot be set through the item's fields");
    }
}

} // namespace

mapi::FileTime fileTimeFromUtcDate(Date date) {
    return mapi::FileTime::fromUnixSeconds(platform::unixFromOleDate(date.value));
}

mapi::FileTime fileTimeFromLocalDate(Date date) {
    // The wall-clock fields of the date, then the local zone's rules for that moment.
    const platform::UnixSeconds asIfUtc = platform::unixFromOleDate(date.value);
    const std::time_t t = static_cast<std::time_t>(asIfUtc);
    std::tm fields{};
    gmtime_r(&t, &fields);
    fields.tm_isdst = -1;
    const std::time_t local = std::mktime(&fields);
    return mapi::FileTime::fromUnixSeconds(local == static_cast<std::time_t>(-1) ? asIfUtc : local);
}

namespace {

struct AttachmentSources {
    std::mutex mutex;
    std::unordered_map<std::string, mapi::AttachmentContent> byPath;
};

AttachmentSources& attachmentSources() {
    static AttachmentSources sources;
    return sources;
}

} // namespace

void registerAttachmentSource(const std::string& path, mapi::AttachmentContent content) {
    auto& sources = attachmentSources();
    std::lock_guard lock(sources.mutex);
    sources.byPath[path] = std::move(content);
}

bool unregisterAttachmentSource(const std::string& path) {
    auto& sources = attachmentSources();
    std::lock_guard lock(sources.mutex);
    return sources.byPath.erase(path) > 0;
}

std::optional<mapi::AttachmentContent> openAttachmentFile(const std::string& path,
                                                          std::string& error) {
    {
        auto& sources = attachmentSources();
        std::lock_guard lock(sources.mutex);
        if (const auto it = sources.byPath.find(path); it != sources.byPath.end())
            return it->second;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open the attachment file " + path;
        return std::nullopt;
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0) {
        ::close(fd);
        error = "cannot read the attachment file " + path;
        return std::nullopt;
    }
    auto handle = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    mapi::AttachmentContent content;
    content.size = static_cast<std::uint64_t>(size);
    content.read = [handle](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(*handle, out.data() + done, out.size() - done,
                                      static_cast<off_t>(offset + done));
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    return content;
}

MailItem::MailItem(std::string messageClass, std::shared_ptr<ItemSink> sink, FileWriters writers)
    : sink_(std::move(sink)), writers_(writers), kind_(itemKindFor(messageClass)) {
    message_.props.setString(tags::kMessageClass, std::move(messageClass));
    message_.props.setInt(tags::kMessageFlags, tags::kMsgFlagUnsent);
}

const mapi::NamedProperty* MailItem::namedPropertyFor(std::uint16_t id) const {
    const auto it = namedIds_.find(id);
    return it == namedIds_.end() ? nullptr : &it->second;
}

void MailItem::setNamed(const mapi::NamedProperty& name, mapi::PropValue value) {
    message_.props.setNamed(name, std::move(value));
}

const mapi::PropValue* MailItem::getNamed(const mapi::NamedProperty& name) const {
    return message_.props.getNamed(name);
}

void MailItem::setTagged(mapi::PropTag tag, const Variant& value) {
    mapi::PropValue v = valueForTag(tag, value);
    if (mapi::isNamedId(mapi::tagId(tag))) {
        const mapi::NamedProperty* name = namedPropertyFor(mapi::tagId(tag));
        if (name == nullptr)
            throw ComponentError("The property tag names no known named property");
        message_.props.setNamed(*name, std::move(v));
        return;
    }
    message_.props.set(mapi::makeTag(mapi::tagId(tag), v.type()), std::move(v));
}

void MailItem::addRecipient(const std::string& name, const std::string& address,
                            const std::string& addressType, std::int32_t kind) {
    const std::string type = addressType.empty() ? "SMTP" : addressType;
    const std::string display = name.empty() ? address : name;
    if (kind == tags::kRecipOriginator) {
        auto& p = message_.props;
        p.setString(tags::kSenderName, display);
        p.setString(tags::kSenderEmail, address);
        p.setString(tags::kSenderAddrType, type);
        p.setString(tags::kSentRepresentingName, display);
        p.setString(tags::kSentRepresentingEmail, address);
        p.setString(tags::kSentRepresentingAddrType, type);
        return;
    }
    message_.recipients.push_back(mapi::Recipient::make(display, address, kind, type));
}

void MailItem::setRecipientsFromText(const std::string& text, std::int32_t kind) {
    std::erase_if(message_.recipients,
                  [kind](const mapi::Recipient& r) { return r.kind() == kind; });
    for (const auto& [name, address] : splitAddressList(text))
        addRecipient(name, address, "SMTP", kind);
}

void MailItem::save() {
    if (!sink_)
        throw ComponentError("The item has no folder or file to be saved in");
    if (kind_)
        kind_->beforeSave(*this);
    std::string error;
    if (!sink_->commit(message_, error))
        throw ComponentError("The item could not be saved: " + error);
}

void MailItem::saveAs(const platform::FileTarget& target, std::int32_t type) {
    FileWriters::Writer writer = nullptr;
    switch (type) {
    case kSaveAsMsgUnicode:
    case kSaveAsMsgAnsi:
        writer = writers_.msg;
        break;
    case kSaveAsEml:
        writer = writers_.eml;
        break;
    case kSaveAsRtf:
        writer = writers_.rtf;
        break;
    case kSaveAsHtml:
        writer = writers_.html;
        break;
    default:
        throw ComponentError("Unknown save-as type " + std::to_string(type));
    }
    if (writer == nullptr)
        throw ComponentError("This build cannot write save-as type " + std::to_string(type));
    std::string error;
    if (!writer(message_, target, error))
        throw ComponentError("The item could not be saved as " + target.path + ": " + error);
}

Variant MailItem::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    if (kind_)
        if (auto answered = kind_->invoke(*this, dispid, kind, args))
            return std::move(*answered);
    auto& props = message_.props;
    auto self = std::static_pointer_cast<MailItem>(shared_from_this());
    const bool put = kind == CallKind::Put;
    switch (dispid) {
    case kMessageClass:
        if (put)
            return props.setString(tags::kMessageClass, arg(args, 0).toString()), Variant{};
        return props.string(tags::kMessageClass);
    case kSubject:
        if (put)
            return props.setString(tags::kSubject, arg(args, 0).toString()), Variant{};
        return props.string(tags::kSubject);
    case kHtmlBody:
        if (put) {
            const std::string html = arg(args, 0).toString();
            props.setBinary(tags::kHtml, mapi::Binary(html.begin(), html.end()));
            props.setInt(tags::kInternetCodepage, 65001);
            return {};
        }
        if (const auto* b = props.get(tags::kHtml); b && b->asBinary())
            return std::string(b->asBinary()->begin(), b->asBinary()->end());
        return std::string();
    case kBody:
        if (put)
            return props.setString(tags::kBody, arg(args, 0).toString()), Variant{};
        return props.string(tags::kBody);
    case kTo:
    case kCc:
    case kBcc: {
        const std::int32_t recipientKind = dispid == kTo   ? tags::kRecipTo
                                           : dispid == kCc ? tags::kRecipCc
                                                           : tags::kRecipBcc;
        if (put) {
            setRecipientsFromText(arg(args, 0).toString(), recipientKind);
            return {};
        }
        std::string text;
        for (const auto& r : message_.recipients)
            if (r.kind() == recipientKind)
                text += (text.empty() ? "" : "; ") + r.displayName();
        return text;
    }
    case kSenderText:
        return props.string(tags::kSenderName);
    case kIndexedField:
        if (put) {
            setTagged(static_cast<mapi::PropTag>(arg(args, 0).toInt()), arg(args, 1));
            return {};
        }
        break;
    case kNamedTag:
        if (kind == CallKind::Method) {
            const auto guid = mapi::Guid::parse(arg(args, 0).toString());
            if (!guid)
                throw ComponentError("Not a property set GUID: " + arg(args, 0).toString());
            mapi::NamedProperty name{*guid, std::uint32_t{0}};
            const Variant& idOrName = arg(args, 1);
            if (std::holds_alternative<std::string>(idOrName.storage()))
                name.name = idOrName.toString();
            else
                name.name = static_cast<std::uint32_t>(idOrName.toInt());
            std::optional<std::uint16_t> id = sink_ ? sink_->namedPropertyId(name) : std::nullopt;
            if (!id)
                throw ComponentError("No property id is left for another named property");
            namedIds_[*id] = name;
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(*id) << 16);
        }
        break;
    case kImportance:
        if (put)
            return props.setInt(tags::kImportance, arg(args, 0).toInt()), Variant{};
        return props.int32(tags::kImportance, 1);
    case kReminderAt:
        if (put) {
            const mapi::FileTime t = fileTimeFromLocalDate(arg(args, 0).toDate());
            setNamed(reminderTime(), mapi::PropValue::time(t));
            setNamed(reminderSignalTime(), mapi::PropValue::time(t));
            return {};
        }
        break;
    case kReminderOn:
        if (put)
            return setNamed(reminderSet(), mapi::PropValue::boolean(arg(args, 0).toBool())),
                   Variant{};
        break;
    case kUnread:
        if (put) {
            const std::int32_t f = flags(message_);
            props.setInt(tags::kMessageFlags, arg(args, 0).toBool() ? (f & ~tags::kMsgFlagRead)
                                                                    : (f | tags::kMsgFlagRead));
            return {};
        }
        return (flags(message_) & tags::kMsgFlagRead) == 0;
    case kSent:
        if (put) {
            const std::int32_t f = flags(message_);
            props.setInt(tags::kMessageFlags, arg(args, 0).toBool() ? (f & ~tags::kMsgFlagUnsent)
                                                                    : (f | tags::kMsgFlagUnsent));
            return {};
        }
        return (flags(message_) & tags::kMsgFlagUnsent) == 0;
    case kRecipients:
        if (kind == CallKind::Get)
            return ObjectRef(std::make_shared<Recipients>(self));
        break;
    case kAttachments:
        if (kind == CallKind::Get)
            return ObjectRef(std::make_shared<Attachments>(self));
        break;
    case kSave:
        if (kind == CallKind::Method)
            return save(), Variant{};
        break;
    case kSaveAs:
        if (kind == CallKind::Method) {
            const std::int32_t type =
                args.size() > 1 && !args[1].isMissing() ? args[1].toInt() : kSaveAsMsgUnicode;
            const int reservedFd = args.size() > 2 && !args[2].isMissing() ? args[2].toInt() : -1;
            return saveAs({arg(args, 0).toString(), reservedFd}, type), Variant{};
        }
        break;
    case kConversion:
        if (kind == CallKind::Method) {
            // 2: the conversion is done; the item's own intermediate file is removed so that an
            // export leaves only files of the chosen format.
            if (arg(args, 0).toInt() == 2 && sink_) {
                sink_->discard();
                sink_.reset();
            }
            return {};
        }
        break;
    default:
        break;
    }
    unknownMember("Item", dispid, kind);
}

Variant Recipients::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    if (dispid == 3 && kind == CallKind::Method) {
        // Add(name, address, address type, kind); kind 0 is the sender.
        item_->addRecipient(arg(args, 0).toString(), arg(args, 1).toString(),
                            args.size() > 2 ? args[2].toString() : "SMTP",
                            args.size() > 3 ? args[3].toInt() : tags::kRecipTo);
        return {};
    }
    unknownMember("Recipients", dispid, kind);
}

Variant Attachments::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    auto& list = item_->message().attachments;
    switch (dispid) {
    case 0x65:
        if (kind == CallKind::Method) {
            // Add(path, type, position, display name).
            const std::string path = arg(args, 0).toString();
            std::string error;
            auto content = openAttachmentFile(path, error);
            if (!content)
                throw ComponentError(error);
            std::string display =
                args.size() > 3 && !args[3].isMissing() ? args[3].toString() : std::string();
            if (display.empty()) {
                const auto slash = path.find_last_of('/');
                display = slash == std::string::npos ? path : path.substr(slash + 1);
            }
            list.push_back(mapi::Attachment::byValue(display, std::move(*content)));
            return ObjectRef(std::make_shared<Attachment>(item_, list.size() - 1));
        }
        break;
    case 0x50:
        if (kind == CallKind::Get)
            return static_cast<std::int32_t>(list.size());
        break;
    case 0:
        if (kind == CallKind::Get) {
            const std::int32_t index = arg(args, 0).toInt();
            if (index < 1 || static_cast<std::size_t>(index) > list.size())
                throw ComponentError("Attachment index out of range");
            return ObjectRef(
                std::make_shared<Attachment>(item_, static_cast<std::size_t>(index - 1)));
        }
        break;
    default:
        break;
    }
    unknownMember("Attachments", dispid, kind);
}

mapi::Attachment& Attachment::attachment() {
    auto& list = item_->message().attachments;
    if (index_ >= list.size())
        throw ComponentError("The attachment no longer exists");
    return list[index_];
}

Variant Attachment::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    switch (dispid) {
    case 3: // Fields(tag) = value on the attachment
        if (kind == CallKind::Put) {
            const auto tag = static_cast<mapi::PropTag>(arg(args, 0).toInt());
            mapi::PropValue v = valueForTag(tag, arg(args, 1));
            attachment().props.set(mapi::makeTag(mapi::tagId(tag), v.type()), std::move(v));
            return {};
        }
        break;
    case 6: // Save: attachments are stored with their message
        if (kind == CallKind::Method)
            return {};
        break;
    case 9: // Type: 1 by value, 5 embedded message
        if (kind == CallKind::Get)
            return attachment().isEmbedded() ? tags::kAttachEmbeddedMessage : tags::kAttachByValue;
        break;
    case 0x67: // FileName
        if (kind == CallKind::Get)
            return attachment().props.string(tags::kAttachLongFilename);
        break;
    default:
        break;
    }
    unknownMember("Attachment", dispid, kind);
}

} // namespace parvelle::component
