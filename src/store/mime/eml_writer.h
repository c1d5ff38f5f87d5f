#pragma once
// Writes a message of the in-memory model as an Internet message file (RFC 5322 with MIME):
// headers from the sender, recipients, subject, submit time and Internet message id; the plain
// and HTML bodies as multipart/alternative; attachments in base64 (embedded messages as
// message/rfc822) inside multipart/mixed. Attachment bytes are streamed from their
// AttachmentContent while the file is written, never held whole.
#include "platform/file_target.h"
#include "store/mapi/message.h"

#include <string>

namespace parvelle::mime {

// The outcome of a write: empty error on success, otherwise what went wrong in plain words.
struct EmlResult {
    std::string error;
    explicit operator bool() const { return error.empty(); }
};

// Writes the file under a temporary name next to the target's path and renames it into place
// (an existing file is replaced), or into the file the caller reserved (platform::FileTarget), so
// a failed write never leaves a file that looks usable.
EmlResult writeEmlFile(const mapi::Message& message, const platform::FileTarget& target);

// The same bytes into `out` (replaced), for callers that keep the message in memory.
EmlResult writeEml(const mapi::Message& message, std::string& out);

} // namespace parvelle::mime
