#pragma once
// Writes a message as a readable RTF document: the header lines (From, Sent, To, Cc, Subject,
// Attachments) with bold labels, a blank line, then the plain body. Every character outside
// ASCII is written as an RTF Unicode escape, so the file is 7-bit and reads the same in any
// code page; characters beyond the Basic Multilingual Plane go as UTF-16 surrogate pairs.
#include "store/mapi/message.h"
#include "store/mime/message_document.h"

#include <string>

namespace parvelle::mime {

std::string rtfDocument(const MessageDocument& document);

// Writes the target file (platform::FileTarget; an existing file at a path without a reserved
// descriptor is replaced). Empty on success, otherwise what went wrong.
std::string writeRtfFile(const mapi::Message& message, const platform::FileTarget& target);

} // namespace parvelle::mime
