#pragma once
// The properties Outlook computes when an item is saved, filled in on the in-memory model so
// that every backend writes the same values: normalized subject and prefix, display To/Cc/Bcc,
// search keys, recipient entry ids (one-off), flags, times, code page, plain body from an
// HTML-only body, and per attachment its number, extension, 8.3 name, method and rendering
// position. Sizes are estimated here; a backend that knows the stored size replaces them.
#include "store/mapi/message.h"

#include <string>
#include <string_view>

namespace parvelle::mapi {

struct SaveOptions {
    FileTime now = FileTime::now();
};

// Completes `message` (and its embedded messages) in place. Values the caller set are kept,
// except the derived ones that must agree with the rest (display To/Cc/Bcc, normalized subject,
// attachment numbers, the has-attachments and unsent flags).
void deriveOnSave(Message& message, const SaveOptions& options = {});

// Splits a subject into its prefix ("RE: ", "FW: ", up to three letters then ": ") and the
// normalized subject.
struct SubjectParts {
    std::string prefix;
    std::string normalized;
};
SubjectParts splitSubject(std::string_view subject);

// The DOS 8.3 form of a long file name ("Quarterly report.xlsx" -> "QUARTE~1.XLS").
std::string shortFileName(std::string_view longName);
// The extension with its dot ("a.tar.gz" -> ".gz"), empty when there is none.
std::string fileExtension(std::string_view name);

// Rough stored size of a message: the sum of its property values, recipients and attachments.
std::uint64_t estimateMessageSize(const Message& message);

} // namespace parvelle::mapi
