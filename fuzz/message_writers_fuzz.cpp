// Builds a mail from arbitrary bytes (texts that may be invalid UTF-8 or hold control characters,
// addresses, attachment names and contents) and writes it as an Internet message and as an MSG
// file, as the file exports do with whatever an archive holds.
//
// The Internet message must be well formed whatever the input: lines end in CRLF and stay
// within 998 octets, the header is 7-bit with continuation lines that start with white space,
// and the subject decodes back to the text it was given. The MSG file must read back with the
// same subject, recipients and attachment bytes.
#include "platform/text.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/message.h"
#include "store/mapi/tags.h"
#include "store/mime/eml_writer.h"
#include "store/msg/msg_reader.h"
#include "store/msg/msg_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace parvelle;

// Reports the broken promise with the text concerned, bytes outside printable ASCII in hex.
[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "%s: ", what);
    for (unsigned char c : detail)
        std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string base64Decode(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        const int v = base64Value(c);
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

// An unstructured header value as a reader shows it: unfolded, encoded words decoded, and the
// white space between two encoded words dropped (RFC 2047 section 6.2).
std::string decodeUnstructured(std::string_view folded) {
    std::string unfolded;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        if (folded[i] == '\r' && i + 1 < folded.size() && folded[i + 1] == '\n') {
            ++i;
            continue;
        }
        unfolded.push_back(folded[i]);
    }
    std::string out;
    std::string pendingSpace;
    bool afterWord = false;
    std::size_t i = 0;
    while (i < unfolded.size()) {
        if (unfolded.compare(i, 10, "=?UTF-8?B?") == 0) {
            const std::size_t end = unfolded.find("?=", i + 10);
            if (end == std::string::npos)
                fail("unterminated encoded word", unfolded);
            if (!afterWord)
                out += pendingSpace;
            pendingSpace.clear();
            out += base64Decode(std::string_view(unfolded).substr(i + 10, end - i - 10));
            afterWord = true;
            i = end + 2;
            continue;
        }
        if (unfolded[i] == ' ' || unfolded[i] == '\t') {
            pendingSpace.push_back(unfolded[i++]);
            continue;
        }
        out += pendingSpace;
        pendingSpace.clear();
        afterWord = false;
        out.push_back(unfolded[i++]);
    }
    return out + pendingSpace;
}

void checkEml(const std::string& eml, const std::string& subject) {
    // Lines: CRLF only, at most 998 octets before it.
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < eml.size(); ++i) {
        if (eml[i] == '\n' && (i == 0 || eml[i - 1] != '\r'))
            fail("bare LF", eml.substr(lineStart, i - lineStart));
        if (eml[i] == '\r' && (i + 1 >= eml.size() || eml[i + 1] != '\n'))
            fail("bare CR", eml.substr(lineStart, i - lineStart));
        if (eml[i] == '\n') {
            if (i - 1 - lineStart > 998)
                fail("line longer than 998 octets", eml.substr(lineStart, 80));
            lineStart = i + 1;
        }
    }
    if (eml.size() - lineStart > 998)
        fail("last line longer than 998 octets");

    // The header: 7-bit fields, continuation lines that start with white space.
    const std::size_t headerEnd = eml.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        fail("no end of header");
    const std::string_view header = std::string_view(eml).substr(0, headerEnd + 2);
    for (char c : header)
        if (static_cast<unsigned char>(c) >= 0x80 ||
            (c < 0x20 && c != '\r' && c != '\n' && c != '\t'))
            fail("header byte outside printable ASCII", header);
    std::string subjectField;
    bool inSubject = false;
    for (std::size_t at = 0; at < header.size();) {
        const std::size_t end = header.find("\r\n", at);
        const std::string_view line = header.substr(at, end - at);
        if (line.empty())
            fail("empty header line");
        if (line[0] == ' ' || line[0] == '\t') {
            if (at == 0)
                fail("header starts with a continuation line");
            if (inSubject)
                subjectField += "\r\n" + std::string(line);
        } else {
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos || colon == 0)
                fail("header line without a field name", line);
            inSubject = line.substr(0, colon) == "Subject";
            if (inSubject)
                subjectField = std::string(line.substr(colon + 1));
        }
        at = end + 2;
    }
    // The value after the colon's one space; a subject written is a subject read back.
    if (!subjectField.empty() && subjectField[0] == ' ')
        subjectField.erase(0, 1);
    const std::string shown = decodeUnstructured(subjectField);
    if (shown != subject)
        fail("subject changed", eml.substr(0, headerEnd));
}

std::string attachmentBytes(const mapi::Attachment& a) {
    std::string bytes(static_cast<std::size_t>(a.content.size), '\0');
    if (!bytes.empty() &&
        !a.content.read(0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}))
        fail("attachment unreadable");
    return bytes;
}

// A string property as it reads back from an MSG file: valid UTF-8 without the NULs that end it
// (a string stream holds its text with a terminating NUL, which the reader drops with any before
// it).
std::string msgText(const std::string& utf8) {
    std::string text = text::sanitizeUtf8(utf8);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

void checkMsg(const mapi::Message& written) {
    char path[] = "/tmp/message_writers_fuzz.XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        return; // no room for the file: nothing to check
    ::close(fd);
    msg::MsgWriteOptions options;
    options.sync = false;
    options.timestamp = 1;
    const msg::Status status = msg::writeMsgFile(written, platform::FileTarget(path), options);
    if (!status) {
        ::unlink(path);
        if (msg::checkMsgLimits(written))
            fail("MSG write failed within the limits", status.error());
        return;
    }
    auto read = msg::readMsgFile(path);
    if (!read)
        fail("MSG file unreadable", read.error());
    const mapi::Message& back = *read;
    if (back.props.string(mapi::tags::kSubject) !=
        msgText(written.props.string(mapi::tags::kSubject)))
        fail("MSG subject changed", back.props.string(mapi::tags::kSubject) + " <- " +
                                        written.props.string(mapi::tags::kSubject));
    if (back.recipients.size() != written.recipients.size())
        fail("MSG recipients lost");
    for (std::size_t i = 0; i < back.recipients.size(); ++i) {
        const mapi::PropertyBag& was = written.recipients[i].props;
        const mapi::PropertyBag& is = back.recipients[i].props;
        if (back.recipients[i].kind() != written.recipients[i].kind())
            fail("MSG recipient kind changed");
        for (const mapi::PropTag tag : {mapi::tags::kDisplayName, mapi::tags::kEmailAddress})
            if (is.string(tag) != msgText(was.string(tag)))
                fail("MSG recipient changed", is.string(tag) + " <- " + was.string(tag));
    }
    if (back.attachments.size() != written.attachments.size())
        fail("MSG attachments lost");
    for (std::size_t i = 0; i < back.attachments.size(); ++i)
        if (attachmentBytes(back.attachments[i]) != attachmentBytes(written.attachments[i]))
            fail("MSG attachment bytes changed");
    ::unlink(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    mapi::Message m;
    m.props.setString(mapi::tags::kMessageClass, "IPM.Note");
    const std::string subject = in.ConsumeRandomLengthString(600);
    m.props.setString(mapi::tags::kSubject, subject);
    m.props.setString(mapi::tags::kSenderName, in.ConsumeRandomLengthString(80));
    m.props.setString(mapi::tags::kSenderEmail, in.ConsumeRandomLengthString(80));
    if (in.ConsumeBool())
        m.props.setString(mapi::tags::kInternetMessageId, in.ConsumeRandomLengthString(80));
    if (in.ConsumeBool())
        m.props.setTime(mapi::tags::kClientSubmitTime,
                        mapi::FileTime{in.ConsumeIntegral<std::uint64_t>()});
    m.props.setString(mapi::tags::kBody, in.ConsumeRandomLengthString(3000));
    if (in.ConsumeBool()) {
        const std::string html = in.ConsumeRandomLengthString(3000);
        m.props.setBinary(mapi::tags::kHtml, mapi::Binary(html.begin(), html.end()));
    }
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
        std::string name = in.ConsumeRandomLengthString(80);
        std::string address = in.ConsumeRandomLengthString(80);
        m.recipients.push_back(mapi::Recipient::make(std::move(name), std::move(address),
                                                     in.ConsumeIntegralInRange(1, 3)));
    }
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        std::string name = in.ConsumeRandomLengthString(120);
        const std::string bytes = in.ConsumeRandomLengthString(5000);
        m.attachments.push_back(
            mapi::Attachment::byValue(std::move(name), mapi::Binary(bytes.begin(), bytes.end())));
    }
    mapi::deriveOnSave(m);

    std::string eml;
    if (const mime::EmlResult result = mime::writeEml(m, eml); !result)
        fail("EML write failed", result.error);
    // What a reader shows is the subject's valid UTF-8 (the writer replaces what is not) on one
    // line (line breaks and tabs become spaces).
    std::string shown = text::sanitizeUtf8(m.props.string(mapi::tags::kSubject));
    for (char& c : shown)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    checkEml(eml, shown);
    checkMsg(m);
    return 0;
}
