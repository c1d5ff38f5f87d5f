#pragma once
// Shared pieces of the MSG tests: sample messages, external readers run as commands, and the
// comparison of a reader's JSON summary with the message that was written.
#include "json_value.h"

#include "store/mapi/message.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace parvelle::testing {

// Output and exit status of a shell command (stdout only).
struct CommandResult {
    int exitCode = -1;
    std::string out;
};
CommandResult runCommand(const std::string& command);
std::string shellQuote(const std::string& s);

// Interpreters and scripts of the external readers, or nullopt when not installed.
std::optional<std::string> olefilePython();
std::optional<std::string> msgconvertProgram();
std::optional<std::string> msgreaderScript();

std::string sha256Hex(std::span<const std::uint8_t> bytes);
std::string contentSha256(const mapi::AttachmentContent& content);

// Sample items. `largeAttachmentPath` names a file to attach by path (read while writing).
mapi::Message sampleMail(const std::string& largeAttachmentPath);
mapi::Message sampleContact();
mapi::Message sampleAppointment();

// What a reader cannot show, so that the comparison skips it.
struct ReaderGaps {
    bool bcc = false;           // Bcc recipients are not listed
    bool messageClass = false;  // the class is not reported
    bool named = false;         // named properties are not reported
    bool looseText = false;     // line ends and surrounding blanks of texts may change
};

// Adds a GoogleTest failure for every difference between `summary` (a reader's JSON) and
// `expected`, naming `reader`.
void expectSummaryMatches(const JsonValue& summary, const mapi::Message& expected,
                          const ReaderGaps& gaps, const std::string& reader);

} // namespace parvelle::testing
