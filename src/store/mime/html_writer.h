#pragma once
// Writes a message as a readable HTML document in UTF-8: a table of the header lines (From,
// Sent, To, Cc, Subject, Attachments), escaped, then the body. An HTML body is carried over as
// the content of its <body> element together with its style sheets; its own <head> is dropped,
// because a character set declared there would no longer describe the UTF-8 bytes we write. A
// plain body is escaped and keeps its line breaks.
#include "store/mapi/message.h"
#include "store/mime/message_document.h"

#include <string>
#include <string_view>

namespace parvelle::mime {

std::string htmlDocument(const MessageDocument& document);

// Writes the target file (platform::FileTarget; an existing file at a path without a reserved
// descriptor is replaced). Empty on success, otherwise what went wrong.
std::string writeHtmlFile(const mapi::Message& message, const platform::FileTarget& target);

} // namespace parvelle::mime
