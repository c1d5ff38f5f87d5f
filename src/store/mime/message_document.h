#pragma once
// The readable form of a message that the RTF and HTML exports print: the header lines a mail
// client shows above a message (From, Sent, To, Cc, Subject, Attachments), then the body.
#include "platform/file_target.h"
#include "store/mapi/message.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace parvelle::mime {

struct HeaderLine {
    std::string label; // "From", "Sent", "To", "Cc", "Subject", "Attachments"
    std::string value; // one line of UTF-8 text
};

struct MessageDocument {
    // In display order. From, To and Subject are always there; Sent only when the message has a
    // time, Cc and Attachments only when they are not empty.
    std::vector<HeaderLine> headers;
    // The plain body, or the text of the HTML body when the message has no plain one.
    std::string plainBody;
    // The HTML body as UTF-8, empty when the message has none.
    std::string htmlBody;
};

MessageDocument makeMessageDocument(const mapi::Message& message);

// The message's HTML body as UTF-8 (converted from its internet code page), empty without one.
std::string messageHtml(const mapi::PropertyBag& props);

// Writes `bytes` as the target file (platform::FileTarget: under a temporary name next to it,
// renamed into place, or into the file the caller reserved), so that a failed write never leaves
// a file that looks usable. Empty on success, otherwise what went wrong.
std::string writeDocumentFile(const platform::FileTarget& target, std::string_view bytes);

// Writes the target file through `write` (the shared rule of the EML, RTF and HTML writers; see
// writeDocumentFile). Empty on success, otherwise what went wrong, naming the file.
std::string writeFileNextTo(const platform::FileTarget& target,
                            const std::function<std::string(std::FILE*)>& write);

} // namespace parvelle::mime
