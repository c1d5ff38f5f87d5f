#pragma once
// What `parvelle-cli pst-info` shows of a PST file: its format and encoding, the folder tree
// under the top of the personal folders and, on request, a summary of every item in it.
#include "store/pst/reader_messaging.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvelle::pst {

struct FolderSummary {
    std::string path; // "/" for the top folder, then "/Inbox", "/Inbox/Sub", ...
    std::string name;
    std::string containerClass;
    std::uint64_t items = 0; // rows of its contents table
};

struct RecipientSummary {
    std::string type; // "to", "cc" or "bcc"
    std::string name;
    std::string address;
};

struct AttachmentSummary {
    std::string name;
    std::uint64_t size = 0;            // bytes of data (PidTagAttachSize for embedded messages)
    std::optional<std::string> sha256; // of the data, for attachments by value
};

struct ItemSummary {
    std::string folder;
    std::string messageClass;
    std::string subject;
    std::string senderName;
    std::string senderAddress;
    std::vector<RecipientSummary> recipients;
    std::optional<std::string> sentTime;     // ISO 8601 UTC
    std::optional<std::string> deliveryTime; // ISO 8601 UTC
    std::uint64_t bodyChars = 0;             // UTF-16 code units of the plain-text body
    std::uint64_t htmlChars = 0;             // UTF-16 code units of the HTML body
    std::vector<AttachmentSummary> attachments;
};

struct StoreSummary {
    Format format = Format::Unicode;
    CryptMethod encryption = CryptMethod::None;
    std::vector<FolderSummary> folders;
    std::vector<ItemSummary> items;
    // Folders or items that could not be read, in plain words; they are skipped.
    std::vector<std::string> problems;
};

// Walks the folder tree (and the items when `withItems`). Fails only when the top folder cannot
// be found; unreadable folders and items are listed in `problems`.
ReadResult<StoreSummary> inspectStore(const PstReader& store, bool withItems);

// The summary of one message (also used for embedded messages).
ItemSummary summarizeMessage(const PstReader& store, const PstMessage& message,
                             const std::string& folderPath);

std::string summaryToJson(const StoreSummary& summary, bool withItems);
std::string summaryToText(const StoreSummary& summary, bool withItems);

} // namespace parvelle::pst
