// Builds a mail from arbitrary bytes (texts that may be invalid UTF-8 or hold control characters,
// addresses, attachment names and contents) and writes it as an Internet message and as an MSG
// file, as the file exports do with whatever an archive holds.
//
// The Internet message must be well formed whatever the input: lines end in CRLF and stay
// within 998 octets, the header is 7-bit with continuation lines that start with white space,
// and the subject decodes back to the text it was given. The MSG file must read back with the
// same subject, recipients and attachment bytes.
#include "fuzz_checks.h"
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
using fuzz::checkEml;
using fuzz::fail;

std::string attachmentBytes(const mapi::Attachment& a) {
    std::string bytes(static_cast<std::size_t>(a.content.size), '\0');
    if (!bytes.empty() &&
        !a.content.read(0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}))
        fail("attachment unreadable");
    return bytes;
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
        fuzz::storedText(written.props.string(mapi::tags::kSubject)))
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
            if (is.string(tag) != fuzz::storedText(was.string(tag)))
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
    if (checkEml(eml) != shown)
        fail("subject changed", eml.substr(0, eml.find("\r\n\r\n")));
    checkMsg(m);
    return 0;
}
