#include "store/pst/inspect.h"

#include "platform/json.h"
#include "platform/text.h"
#include "store/pst/inspect_sha256.h"

#include <functional>
#include <set>

namespace parvelle::pst {

namespace {

// Subjects in a PST may start with U+0001 and one character giving the prefix length.
std::string subjectText(const PropertyMap& props, std::uint32_t codepage) {
    std::string s = stringProp(props, propid::kSubject, codepage).value_or("");
    if (!s.empty() && s[0] == '\x01') {
        std::size_t n = 2;
        while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
            ++n;
        s.erase(0, std::min(n, s.size()));
    }
    return s;
}

std::string firstString(const PropertyMap& props, std::initializer_list<std::uint16_t> ids,
                        std::uint32_t codepage) {
    for (std::uint16_t id : ids) {
        if (auto s = stringProp(props, id, codepage); s && !s->empty())
            return *s;
    }
    return {};
}

std::uint64_t htmlLength(const PropertyMap& props, std::uint32_t codepage) {
    const auto it = props.find(propid::kHtml);
    if (it == props.end())
        return 0;
    if (it->second.type == kPtypBinary) {
        const auto cp = integerProp(props, propid::kInternetCodepage);
        return text::utf16Length(decodeCodepage(
            it->second.data, cp && *cp > 0 ? static_cast<std::uint32_t>(*cp) : 65001));
    }
    return text::utf16Length(stringProp(props, propid::kHtml, codepage).value_or(""));
}

const char* recipientType(std::int64_t type) {
    switch (type & 0xF) {
    case 2:
        return "cc";
    case 3:
        return "bcc";
    default:
        return "to";
    }
}

} // namespace

ItemSummary summarizeMessage(const PstReader& store, const PstMessage& message,
                             const std::string& folderPath) {
    const std::uint32_t cp = message.codepage;
    const PropertyMap& p = message.props;
    ItemSummary item;
    item.folder = folderPath;
    item.messageClass = stringProp(p, propid::kMessageClass, cp).value_or("");
    item.subject = subjectText(p, cp);
    item.senderName = firstString(p, {propid::kSenderName, propid::kSentRepresentingName}, cp);
    item.senderAddress = firstString(p,
                                     {propid::kSenderSmtpAddress, propid::kSenderEmailAddress,
                                      propid::kSentRepresentingEmailAddress},
                                     cp);
    for (const PropertyMap& r : message.recipients) {
        item.recipients.push_back(
            {recipientType(integerProp(r, propid::kRecipientType).value_or(1)),
             stringProp(r, propid::kDisplayName, cp).value_or(""),
             firstString(r, {propid::kSmtpAddress, propid::kEmailAddress}, cp)});
    }
    if (const auto t = timeProp(p, propid::kClientSubmitTime))
        item.sentTime = filetimeToIso8601(*t);
    if (const auto t = timeProp(p, propid::kMessageDeliveryTime))
        item.deliveryTime = filetimeToIso8601(*t);
    item.bodyChars = text::utf16Length(stringProp(p, propid::kBody, cp).value_or(""));
    item.htmlChars = htmlLength(p, cp);
    for (const PstAttachment& a : message.attachments) {
        AttachmentSummary s;
        s.name = firstString(
            a.props, {propid::kAttachLongFilename, propid::kAttachFilename, propid::kDisplayName},
            cp);
        const auto data = a.props.find(propid::kAttachDataBinary);
        if (data != a.props.end() && data->second.type == kPtypBinary) {
            Sha256 hash;
            const auto size =
                store.attachmentData(a, [&](std::span<const std::uint8_t> b) { hash.update(b); });
            if (size) {
                s.size = *size;
                s.sha256 = hash.hexDigest();
            }
        } else {
            s.size = static_cast<std::uint64_t>(
                std::max<std::int64_t>(0, integerProp(a.props, propid::kAttachSize).value_or(0)));
        }
        item.attachments.push_back(std::move(s));
    }
    return item;
}

ReadResult<StoreSummary> inspectStore(const PstReader& store, bool withItems) {
    StoreSummary summary;
    summary.format = store.header().format;
    summary.encryption = store.header().crypt;
    const auto top = store.ipmSubtree();
    if (!top)
        return ReadResult<StoreSummary>::failure(top.error());
    std::set<std::uint32_t> visited;
    const std::uint32_t cp = store.storeCodepage();
    // `parentPath` is empty for the top folder, whose path is "/".
    std::function<void(std::uint32_t, const std::string&, int)> walk =
        [&](std::uint32_t nid, const std::string& parentPath, int depth) {
            // A hierarchy table that lists an ancestor must not make the walk endless.
            if (!visited.insert(nid).second || depth > 256)
                return;
            const auto folder = store.folder(nid);
            if (!folder) {
                summary.problems.push_back(folder.error());
                return;
            }
            FolderSummary f;
            f.name = stringProp(folder->props, propid::kDisplayName, cp).value_or("");
            f.path = parentPath.empty()  ? "/"
                     : parentPath == "/" ? "/" + f.name
                                         : parentPath + "/" + f.name;
            f.containerClass = stringProp(folder->props, propid::kContainerClass, cp).value_or("");
            f.items = folder->contents.size();
            summary.folders.push_back(f);
            if (withItems) {
                for (const TableRow& row : folder->contents) {
                    const auto message = store.message(row.rowId);
                    if (!message) {
                        summary.problems.push_back(message.error());
                        continue;
                    }
                    summary.items.push_back(summarizeMessage(store, *message, f.path));
                }
            }
            for (std::uint32_t child : folder->subfolders)
                walk(child, f.path, depth + 1);
        };
    walk(*top, "", 0);
    return summary;
}

namespace {

const char* formatName(Format f) {
    return f == Format::Unicode ? "unicode" : "ansi";
}

const char* encryptionName(CryptMethod m) {
    switch (m) {
    case CryptMethod::Permute:
        return "permute";
    case CryptMethod::Cyclic:
        return "cyclic";
    default:
        return "none";
    }
}

void optionalString(json::Writer& w, const std::optional<std::string>& s) {
    if (s)
        w.value(*s);
    else
        w.null();
}

} // namespace

std::string summaryToJson(const StoreSummary& summary, bool withItems) {
    json::Writer w(true);
    w.beginObject();
    w.key("format").value(formatName(summary.format));
    w.key("encryption").value(encryptionName(summary.encryption));
    w.key("folders").beginArray();
    for (const FolderSummary& f : summary.folders) {
        w.beginObject();
        w.key("path").value(f.path);
        w.key("name").value(f.name);
        w.key("containerClass").value(f.containerClass);
        w.key("items").value(f.items);
        w.endObject();
    }
    w.endArray();
    if (withItems) {
        w.key("items").beginArray();
        for (const ItemSummary& i : summary.items) {
            w.beginObject();
            w.key("folder").value(i.folder);
            w.key("messageClass").value(i.messageClass);
            w.key("subject").value(i.subject);
            w.key("senderName").value(i.senderName);
            w.key("senderAddress").value(i.senderAddress);
            w.key("recipients").beginArray();
            for (const RecipientSummary& r : i.recipients) {
                w.beginObject();
                w.key("type").value(r.type);
                w.key("name").value(r.name);
                w.key("address").value(r.address);
                w.endObject();
            }
            w.endArray();
            w.key("sentTime");
            optionalString(w, i.sentTime);
            w.key("deliveryTime");
            optionalString(w, i.deliveryTime);
            w.key("bodyChars").value(i.bodyChars);
            w.key("htmlChars").value(i.htmlChars);
            w.key("attachments").beginArray();
            for (const AttachmentSummary& a : i.attachments) {
                w.beginObject();
                w.key("name").value(a.name);
                w.key("size").value(a.size);
                w.key("sha256");
                optionalString(w, a.sha256);
                w.endObject();
            }
            w.endArray();
            w.endObject();
        }
        w.endArray();
    }
    if (!summary.problems.empty()) {
        w.key("problems").beginArray();
        for (const std::string& p : summary.problems)
            w.value(p);
        w.endArray();
    }
    w.endObject();
    return w.str() + "\n";
}

std::string summaryToText(const StoreSummary& summary, bool withItems) {
    std::string out = std::string("Format: ") + formatName(summary.format) +
                      "\nEncryption: " + encryptionName(summary.encryption) + "\nFolders:\n";
    for (const FolderSummary& f : summary.folders) {
        out += "  " + f.path + "  [" + (f.containerClass.empty() ? "-" : f.containerClass) + "]  " +
               std::to_string(f.items) + " item(s)\n";
    }
    if (withItems) {
        out += "Items:\n";
        for (const ItemSummary& i : summary.items) {
            out += "  " + i.folder + "  " + i.messageClass + "  \"" + i.subject + "\"";
            if (!i.senderName.empty() || !i.senderAddress.empty())
                out += "  from " + i.senderName + " <" + i.senderAddress + ">";
            out += "\n";
            for (const RecipientSummary& r : i.recipients)
                out += "    " + r.type + ": " + r.name + " <" + r.address + ">\n";
            for (const AttachmentSummary& a : i.attachments)
                out += "    attachment: " + a.name + " (" + std::to_string(a.size) + " bytes)\n";
        }
    }
    for (const std::string& p : summary.problems)
        out += "Problem: " + p + "\n";
    return out;
}

} // namespace parvelle::pst
