#pragma once
// Writes a message of the in-memory model as a Unicode MSG file: every property the model holds
// (strings as PT_UNICODE, 8-bit strings converted from the message's code page), recipients,
// attachments with their bytes streamed from their content, embedded messages as nested
// storages, and one named-property map for the whole file. Call mapi::deriveOnSave() first so
// the file carries the properties Outlook computes on save.
#include "platform/file_target.h"
#include "store/mapi/message.h"
#include "store/msg/compound_file_writer.h"
#include "store/msg/result.h"

#include <string>

namespace parvelle::msg {

struct MsgWriteOptions {
    // FILETIME stamped on the file's storages; zero takes the current time.
    std::uint64_t timestamp = 0;
    // Compound file version: 0 chooses (3, or 4 beyond 2 GB).
    int compoundVersion = 0;
    // Flush the file to disk before it takes its name. Exports of many small files leave that
    // to the system, as a copy does: a flush per file costs milliseconds per mail.
    bool sync = true;
};

// The compound-file tree of the message, ready to write.
Result<cfb::Tree> buildMsgTree(const mapi::Message& message);

// Whether `message` can be written as an MSG file: it fails with the reason writeMsgFile would
// give when it cannot be represented (an attachment of 4 GB or more, more than 2048 recipients or
// attachments, too many named properties, embedded messages nested too deeply).
Status checkMsgLimits(const mapi::Message& message);

// Writes `message` to the target (platform::FileTarget: under a temporary name renamed into
// place when complete, or into the file the caller reserved). Fails, leaving no file of its own
// behind, when the message cannot be represented (checkMsgLimits) or on I/O errors.
Status writeMsgFile(const mapi::Message& message, const platform::FileTarget& target,
                    const MsgWriteOptions& options = {});

} // namespace parvelle::msg
