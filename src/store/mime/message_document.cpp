#include "store/mime/message_document.h"

#include "store/msg/atomic_file.h"

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/text.h"
#include "store/mapi/html_text.h"
#include "store/mapi/tags.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>

namespace parvelle::mime {

namespace {

namespace tags = mapi::tags;

// Header values are one line each: a line break inside a subject or name would start a line of
// its own that reads like another header.
std::string oneLine(std::string_view in) {
    std::string out = text::sanitizeUtf8(in);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return out;
}

// "Name <address>", or whichever of the two is known (once when they are the same).
std::string person(std::string_view name, std::string_view address) {
    const std::string n = oneLine(name);
    const std::string a = oneLine(address);
    if (a.empty() || n == a)
        return n.empty() ? a : n;
    if (n.empty())
        return a;
    return n + " <" + a + ">";
}

std::string recipients(const mapi::Message& m, std::int32_t kind) {
    std::string out;
    for (const mapi::Recipient& r : m.recipients) {
        if (r.kind() != kind)
            continue;
        const std::string one =
            person(r.props.string(tags::kDisplayName), r.props.string(tags::kEmailAddress));
        if (one.empty())
            continue;
        if (!out.empty())
            out += "; ";
        out += one;
    }
    return out;
}

std::string sender(const mapi::PropertyBag& p) {
    std::string from =
        person(p.string(tags::kSentRepresentingName), p.string(tags::kSentRepresentingEmail));
    if (from.empty())
        from = person(p.string(tags::kSenderName), p.string(tags::kSenderEmail));
    return from;
}

std::string sentText(const mapi::PropertyBag& p) {
    for (mapi::PropTag tag : {tags::kClientSubmitTime, tags::kMessageDeliveryTime}) {
        const mapi::PropValue* value = p.get(tag);
        const auto time = value ? value->asTime() : std::nullopt;
        if (time && time->ticks != 0)
            return platform::localDateTimeText(time->toUnixSeconds());
    }
    return {};
}

std::string attachmentNames(const mapi::Message& m) {
    std::string out;
    for (const mapi::Attachment& a : m.attachments) {
        std::string name;
        for (mapi::PropTag tag :
             {tags::kAttachLongFilename, tags::kAttachFilename, tags::kDisplayName})
            if (name = oneLine(a.props.string(tag)); !name.empty())
                break;
        if (name.empty() && a.isEmbedded())
            name = oneLine(a.embedded->props.string(tags::kSubject));
        if (name.empty())
            continue;
        if (!out.empty())
            out += "; ";
        out += name;
    }
    return out;
}

} // namespace

std::string messageHtml(const mapi::PropertyBag& p) {
    const mapi::PropValue* value = p.get(tags::kHtml);
    if (!value)
        return {};
    std::string_view bytes;
    if (const mapi::Binary* binary = value->asBinary())
        bytes = {reinterpret_cast<const char*>(binary->data()), binary->size()};
    else if (const std::string* s = value->asString())
        bytes = *s;
    const int codePage = p.int32(tags::kInternetCodepage, 65001);
    if (codePage != 65001 && codepage::isSupported(codePage))
        return codepage::toUtf8(bytes, codePage);
    return text::sanitizeUtf8(bytes);
}

MessageDocument makeMessageDocument(const mapi::Message& m) {
    const mapi::PropertyBag& p = m.props;
    MessageDocument doc;
    doc.headers.push_back({"From", sender(p)});
    if (std::string sent = sentText(p); !sent.empty())
        doc.headers.push_back({"Sent", std::move(sent)});
    doc.headers.push_back({"To", recipients(m, tags::kRecipTo)});
    if (std::string cc = recipients(m, tags::kRecipCc); !cc.empty())
        doc.headers.push_back({"Cc", std::move(cc)});
    doc.headers.push_back({"Subject", oneLine(p.string(tags::kSubject))});
    if (std::string names = attachmentNames(m); !names.empty())
        doc.headers.push_back({"Attachments", std::move(names)});
    doc.htmlBody = messageHtml(p);
    doc.plainBody = text::sanitizeUtf8(p.stringView(tags::kBody));
    if (doc.plainBody.empty() && !doc.htmlBody.empty())
        doc.plainBody = mapi::htmlToPlainText(doc.htmlBody);
    return doc;
}

std::string writeFileNextTo(const platform::FileTarget& target,
                            const std::function<std::string(std::FILE*)>& write) {
    const std::string& path = target.path;
    const msg::Status status = msg::writeFile(
        target,
        [&](std::FILE* file) {
            const std::string error = write(file);
            return error.empty() ? msg::Status::success() : msg::Status::failure(error);
        },
        false);
    if (status.ok() || status.error().find(path) != std::string::npos)
        return status.error();
    return "cannot write " + path + ": " + status.error();
}

std::string writeDocumentFile(const platform::FileTarget& target, std::string_view bytes) {
    return writeFileNextTo(target, [&](std::FILE* file) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()
                   ? std::string()
                   : "the document could not be written to " + target.path;
    });
}

} // namespace parvelle::mime
