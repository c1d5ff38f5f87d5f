#pragma once
// The item model the readers fill and the writers consume: one ItemRecord with the header
// fields of an item, its recipient list, and the holder that owns both for one document.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parvelle::items {

// An OLE automation date (days since 30 December 1899, fraction = time of day) with a status:
// 0 valid, 1 invalid. Archive texts are UTC, so a parsed value is a UTC instant.
struct DateStamp {
    double value = 0;
    std::int32_t status = 0;
};

inline constexpr std::int32_t kDateValid = 0;
inline constexpr std::int32_t kDateInvalid = 1;

struct ItemRecord {
    std::string hasHtml;
    std::string from;
    std::string to;
    std::string bcc;
    std::string cc;
    std::string subject; // other item kinds keep their title here
    std::int32_t priority = 0;
    DateStamp sentTime;
    DateStamp receivedTime;
};

enum RecipientKind : std::int32_t { kSender = 0, kTo = 1, kCc = 2, kBcc = 3 };

struct RecipientNode {
    std::int32_t kind = kTo;
    std::string name;
    std::string address;
    std::string addressType; // left empty by the readers; the writers pass "SMTP"
};

// What one document turns into while it is converted. The dispatcher creates it empty and drops
// it after the writer returns.
struct ItemHolder {
    std::unique_ptr<ItemRecord> record;
    std::vector<RecipientNode> recipients;
    // Set to 1 by the readers once they have created the record.
    std::int32_t kind = 0;
    // PidTagMessageFlags as the writer passes it (values above 7 are written as 1), and whether
    // the item is unread (0: the writer marks it read).
    std::int32_t messageFlags = 0;
    std::int32_t unread = 1;
};

} // namespace parvelle::items
