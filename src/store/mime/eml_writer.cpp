#include "store/mime/eml_writer.h"

#include "platform/codepage.h"
#include "platform/text.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/tags.h"
#include "store/mime/header_encoding.h"
#include "store/mime/message_document.h"
#include "store/mime/transfer_encoding.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace parvelle::mime {

namespace {

namespace tags = mapi::tags;

// The SMTP forms of the sender addresses (PidTagSenderSmtpAddress,
// PidTagSentRepresentingSmtpAddress), set when the e-mail address is an Exchange one.
constexpr mapi::PropTag kSenderSmtpAddress = mapi::makeTag(0x5D01, mapi::PropType::Unicode);
constexpr mapi::PropTag kSentRepresentingSmtpAddress =
    mapi::makeTag(0x5D02, mapi::PropType::Unicode);

// Embedded messages nest; a model that nests deeper than any real mail is refused rather than
// followed (a shared message could even contain itself).
constexpr int kMaxEmbeddingDepth = 32;

std::string stringProp(const mapi::PropertyBag& bag, mapi::PropTag tag) {
    return text::sanitizeUtf8(bag.stringView(tag));
}

// Line breaks as LF: the writer turns them into CRLF on output, and a lone CR inside a text part
// would otherwise survive as a stray byte.
std::string normalizeNewlines(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\r') {
            out += '\n';
            if (i + 1 < in.size() && in[i + 1] == '\n')
                ++i;
        } else {
            out += in[i];
        }
    }
    return out;
}

// Header texts are one line: folding is the writer's job, and a raw line break would end the
// header.
std::string singleLine(std::string_view in) {
    std::string out(in);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return out;
}

// An address usable in an addr-spec: local@domain, printable ASCII, no spaces or brackets.
bool isSmtpAddress(std::string_view address) {
    const std::size_t at = address.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == address.size() ||
        address.find('@', at + 1) != std::string_view::npos)
        return false;
    for (unsigned char c : address)
        if (c <= 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '(' || c == ')' || c == ',' ||
            c == ';' || c == '"' || c == '\\' || c == '[' || c == ']')
            return false;
    return true;
}

struct Person {
    std::string name;
    std::string address;
};

// The SMTP address of a person: the dedicated SMTP property when set, else the e-mail address
// when it is one (Exchange X.500 addresses are not).
std::string smtpAddress(const mapi::PropertyBag& bag, mapi::PropTag emailTag,
                        mapi::PropTag smtpTag) {
    std::string smtp = bag.string(smtpTag);
    if (isSmtpAddress(smtp))
        return smtp;
    std::string email = bag.string(emailTag);
    return isSmtpAddress(email) ? email : std::string();
}

std::string attachmentName(const mapi::Attachment& a) {
    for (mapi::PropTag tag : {tags::kAttachLongFilename, tags::kAttachFilename, tags::kDisplayName})
        if (std::string name = singleLine(stringProp(a.props, tag)); !name.empty())
            return name;
    return "attachment";
}

// A "type/subtype" made of token characters, or empty.
std::string validMimeType(std::string_view tag) {
    const std::size_t slash = tag.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == tag.size() ||
        tag.find('/', slash + 1) != std::string_view::npos)
        return {};
    for (unsigned char c : tag)
        if (c <= 0x20 || c >= 0x7F ||
            std::string_view("()<>@,;:\\\"[]?=").find(static_cast<char>(c)) !=
                std::string_view::npos)
            return {};
    return text::asciiLower(tag);
}

std::string mimeTypeFor(const mapi::Attachment& a, const std::string& name) {
    std::string tag = validMimeType(a.props.string(tags::kAttachMimeTag));
    // A by-value attachment is sent in base64, which message and multipart types do not allow.
    if (!tag.empty() && !tag.starts_with("message/") && !tag.starts_with("multipart/"))
        return tag;
    static constexpr std::pair<std::string_view, std::string_view> kByExtension[] = {
        {".txt", "text/plain"},       {".htm", "text/html"},       {".html", "text/html"},
        {".csv", "text/csv"},         {".pdf", "application/pdf"}, {".zip", "application/zip"},
        {".png", "image/png"},        {".jpg", "image/jpeg"},      {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},        {".bmp", "image/bmp"},       {".svg", "image/svg+xml"},
        {".ics", "text/calendar"},    {".vcf", "text/vcard"},      {".xml", "application/xml"},
        {".json", "application/json"}};
    const std::string ext = text::asciiLower(mapi::fileExtension(name));
    for (const auto& [extension, type] : kByExtension)
        if (ext == extension)
            return std::string(type);
    return "application/octet-stream";
}

Mailbox mailboxOf(const Person& person) {
    std::string name = singleLine(person.name);
    if (name == person.address)
        name.clear();
    return {std::move(name), person.address};
}

// The bracket-less form of a message or content id, or empty when it is not one.
std::string bareId(std::string_view id) {
    while (!id.empty() && (id.front() == ' ' || id.front() == '<'))
        id.remove_prefix(1);
    while (!id.empty() && (id.back() == ' ' || id.back() == '>'))
        id.remove_suffix(1);
    for (unsigned char c : id)
        if (c <= 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '"' || c == '\\' || c == ',')
            return {};
    return std::string(id);
}

// RFC 5322 date-time in UTC ("Tue, 14 Nov 2023 22:13:20 +0000").
std::string rfc5322Date(std::int64_t unixSeconds) {
    using namespace std::chrono;
    const sys_seconds t{seconds{unixSeconds}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{t - day};
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04d %02d:%02d:%02d +0000",
                  kDays[weekday{day}.c_encoding()], static_cast<unsigned>(ymd.day()),
                  kMonths[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buf;
}

std::optional<std::int64_t> originationTime(const mapi::PropertyBag& props) {
    for (mapi::PropTag tag :
         {tags::kClientSubmitTime, tags::kMessageDeliveryTime, tags::kCreationTime}) {
        const mapi::PropValue* value = props.get(tag);
        const auto time = value ? value->asTime() : std::nullopt;
        // Years 1601 to 9999 (FILETIME's own range ends in 30828).
        if (time && time->ticks != 0 && time->toUnixSeconds() < 253402300800LL)
            return time->toUnixSeconds();
    }
    return std::nullopt;
}

// Where the bytes go: a file or a string. Remembers the first failure.
class Sink {
public:
    virtual ~Sink() = default;
    bool write(std::string_view bytes) {
        if (ok_ && !bytes.empty())
            ok_ = put(bytes);
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    virtual bool put(std::string_view bytes) = 0;
    bool ok_ = true;
};

class StringSink : public Sink {
public:
    explicit StringSink(std::string& out) : out_(out) {}

private:
    bool put(std::string_view bytes) override {
        out_.append(bytes);
        return true;
    }
    std::string& out_;
};

class FileSink : public Sink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}

private:
    bool put(std::string_view bytes) override {
        return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    std::FILE* file_;
};

// A boundary that cannot occur in what we write: quoted-printable always follows '=' with a
// hex digit or a line break, and base64 never has '=' before '_'.
std::string newBoundary() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char buf[40];
    std::snprintf(buf, sizeof buf, "=_parvelle_%016llx", static_cast<unsigned long long>(random()));
    return buf;
}

class Writer {
public:
    explicit Writer(Sink& sink) : sink_(sink) {}

    // Writes the message with its headers; false with `error()` set on failure.
    bool message(const mapi::Message& m, int depth) {
        if (depth > kMaxEmbeddingDepth)
            return fail("embedded messages nest too deeply");
        headers(m);
        if (m.attachments.empty())
            return body(m.props);
        const std::string boundary = newBoundary();
        multipartHeader("mixed", boundary);
        openPart(boundary);
        if (!body(m.props))
            return false;
        for (const mapi::Attachment& a : m.attachments) {
            openPart(boundary);
            if (!attachment(a, depth))
                return false;
        }
        return closeMultipart(boundary);
    }

    const std::string& error() const { return error_; }

private:
    bool fail(std::string text) {
        if (error_.empty())
            error_ = std::move(text);
        return false;
    }
    bool put(std::string_view bytes) {
        return sink_.write(bytes) || fail("the message could not be written");
    }
    void header(std::string_view name, std::string_view value) { put(foldHeader(name, value)); }

    void addresses(std::string_view name, const std::vector<Mailbox>& list) {
        if (!list.empty())
            header(name, encodeAddressList(list));
    }

    void headers(const mapi::Message& m) {
        const mapi::PropertyBag& p = m.props;
        const Person sender{stringProp(p, tags::kSenderName),
                            smtpAddress(p, tags::kSenderEmail, kSenderSmtpAddress)};
        const Person represented{
            stringProp(p, tags::kSentRepresentingName),
            smtpAddress(p, tags::kSentRepresentingEmail, kSentRepresentingSmtpAddress)};
        // "Sent on behalf of": the represented person is the author, the sender transmitted.
        const bool onBehalf = !represented.address.empty() && !sender.address.empty() &&
                              !text::equalsIgnoreAsciiCase(represented.address, sender.address);
        // The author is whoever has an SMTP address, the represented person first; a sender
        // known only by an Exchange address is named without one.
        const Person& author = !represented.address.empty()                      ? represented
                               : !sender.address.empty() || !sender.name.empty() ? sender
                                                                                 : represented;
        if (!author.address.empty() || !author.name.empty())
            addresses("From", {mailboxOf(author)});
        if (onBehalf)
            addresses("Sender", {mailboxOf(sender)});

        std::vector<Mailbox> to, cc, bcc;
        for (const mapi::Recipient& r : m.recipients) {
            const Mailbox box =
                mailboxOf({stringProp(r.props, tags::kDisplayName),
                           smtpAddress(r.props, tags::kEmailAddress, tags::kSmtpAddress)});
            if (box.address.empty() && box.name.empty())
                continue;
            switch (r.kind()) {
            case tags::kRecipTo:
                to.push_back(box);
                break;
            case tags::kRecipCc:
                cc.push_back(box);
                break;
            case tags::kRecipBcc:
                bcc.push_back(box);
                break;
            default:
                break;
            }
        }
        addresses("To", to);
        addresses("Cc", cc);
        addresses("Bcc", bcc);

        header("Subject", encodeUnstructured(singleLine(stringProp(p, tags::kSubject)), 9));
        if (const auto time = originationTime(p))
            header("Date", rfc5322Date(*time));
        if (const std::string id = bareId(p.string(tags::kInternetMessageId));
            id.find('@') != std::string::npos)
            header("Message-ID", "<" + id + ">");
        const std::int32_t importance = p.int32(tags::kImportance, 1);
        if (importance == 0 || importance == 2)
            header("Importance", importance == 0 ? "low" : "high");
        header("MIME-Version", "1.0");
    }

    void multipartHeader(std::string_view subtype, const std::string& boundary) {
        header("Content-Type",
               "multipart/" + std::string(subtype) + "; boundary=\"" + boundary + "\"");
        put("\r\n");
    }
    void openPart(const std::string& boundary) { put("\r\n--" + boundary + "\r\n"); }
    bool closeMultipart(const std::string& boundary) { return put("\r\n--" + boundary + "--\r\n"); }

    // A text part's headers and content: UTF-8, quoted-printable for mostly-ASCII text and
    // base64 otherwise (shorter for CJK, Arabic and the like).
    bool textPart(std::string_view subtype, const std::string& utf8) {
        std::size_t eightBit = 0;
        for (unsigned char c : utf8)
            eightBit += c >= 0x80;
        const bool useBase64 = eightBit * 3 > utf8.size();
        header("Content-Type", "text/" + std::string(subtype) + "; charset=utf-8");
        header("Content-Transfer-Encoding", useBase64 ? "base64" : "quoted-printable");
        put("\r\n");
        if (!useBase64)
            return put(quotedPrintable(utf8));
        // Text travels with CRLF line breaks (RFC 2045's canonical form).
        std::string canonical;
        canonical.reserve(utf8.size() + utf8.size() / 16);
        for (char c : utf8) {
            if (c == '\n')
                canonical += '\r';
            canonical += c;
        }
        return put(base64Lines(canonical));
    }

    bool body(const mapi::PropertyBag& props) {
        const std::string plain = normalizeNewlines(stringProp(props, tags::kBody));
        const std::string html = normalizeNewlines(messageHtml(props));
        if (html.empty())
            return textPart("plain", plain);
        if (plain.empty())
            return textPart("html", html);
        const std::string boundary = newBoundary();
        multipartHeader("alternative", boundary);
        openPart(boundary);
        textPart("plain", plain);
        openPart(boundary);
        textPart("html", html);
        return closeMultipart(boundary);
    }

    // The file name both as the content type's "name" (older readers look there) and as the
    // disposition's "filename" the standard asks for.
    void namedPartHeaders(const std::string& mimeType, const char* disposition,
                          const std::string& name) {
        header("Content-Type", mimeType + encodeParameter("name", name));
        header("Content-Disposition", disposition + encodeParameter("filename", name));
    }

    bool attachment(const mapi::Attachment& a, int depth) {
        if (a.isEmbedded()) {
            std::string name = singleLine(stringProp(a.props, tags::kDisplayName));
            if (name.empty())
                name = singleLine(stringProp(a.embedded->props, tags::kSubject));
            if (name.empty())
                name = "message";
            if (!text::asciiLower(name).ends_with(".eml"))
                name += ".eml";
            namedPartHeaders("message/rfc822", "attachment", name);
            put("\r\n");
            return message(*a.embedded, depth + 1);
        }
        const std::string name = attachmentName(a);
        const std::string contentId = bareId(a.props.string(tags::kAttachContentId));
        namedPartHeaders(mimeTypeFor(a, name), contentId.empty() ? "attachment" : "inline", name);
        if (!contentId.empty())
            header("Content-ID", "<" + contentId + ">");
        header("Content-Transfer-Encoding", "base64");
        put("\r\n");
        return attachmentBytes(a, name);
    }

    // Streams the content in pieces of whole base64 lines, through two buffers that the
    // attachments of the message share.
    bool attachmentBytes(const mapi::Attachment& a, const std::string& name) {
        constexpr std::size_t kPiece = kBase64LineBytes * 16384;
        const std::uint64_t size = a.content.size;
        if (size > 0 && !a.content.read)
            return fail("the content of attachment \"" + name + "\" is missing");
        for (std::uint64_t offset = 0; offset < size;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - offset));
            if (capacity_ < n) {
                // Not zeroed: every byte is written before it is read.
                raw_ = std::make_unique_for_overwrite<std::uint8_t[]>(n);
                encoded_ = std::make_unique_for_overwrite<char[]>(base64LinesSize(n));
                capacity_ = n;
            }
            if (!a.content.read(offset, std::span(raw_.get(), n)))
                return fail("attachment \"" + name + "\" could not be read");
            const std::size_t length = base64LinesTo(
                std::string_view(reinterpret_cast<const char*>(raw_.get()), n), encoded_.get());
            if (!put(std::string_view(encoded_.get(), length)))
                return false;
            offset += n;
        }
        return sink_.ok();
    }

    Sink& sink_;
    std::string error_;
    std::unique_ptr<std::uint8_t[]> raw_;
    std::unique_ptr<char[]> encoded_;
    std::size_t capacity_ = 0;
};

EmlResult writeTo(const mapi::Message& message, Sink& sink) {
    Writer writer(sink);
    if (!writer.message(message, 0))
        return {writer.error()};
    return {};
}

} // namespace

EmlResult writeEml(const mapi::Message& message, std::string& out) {
    out.clear();
    StringSink sink(out);
    EmlResult result = writeTo(message, sink);
    if (!result)
        out.clear();
    return result;
}

EmlResult writeEmlFile(const mapi::Message& message, const platform::FileTarget& target) {
    return {writeFileNextTo(target, [&](std::FILE* file) {
        FileSink sink(file);
        return writeTo(message, sink).error;
    })};
}

} // namespace parvelle::mime
