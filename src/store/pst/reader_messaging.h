#pragma once
// Reading the messaging layer of a PST file: the message store, folders with their hierarchy,
// contents and associated-contents tables, messages with recipients and attachments (data
// streamed or returned, embedded messages opened as messages), and the named-property map.
//
//   auto store = PstReader::open(path);            // or fromBytes(...)
//   if (!store) report(store.error());
//   auto top = store->ipmSubtree();               // NID of the top of the personal folders
//   auto folder = store->folder(*top);            // properties, subfolders, contents rows
//   for (const TableRow& row : folder->contents)
//       auto message = store->message(row.rowId); // properties, recipients, attachments
//
// Everything is read on demand from the mapped file; a store object holds no item data.
#include "store/pst/reader_ltp.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parvelle::pst {

// Property ids the reader and the inspection commands use (MS-OXPROPS).
namespace propid {
constexpr std::uint16_t kMessageClass = 0x001A;
constexpr std::uint16_t kSubject = 0x0037;
constexpr std::uint16_t kClientSubmitTime = 0x0039;
constexpr std::uint16_t kSentRepresentingName = 0x0042;
constexpr std::uint16_t kSentRepresentingEmailAddress = 0x0065;
constexpr std::uint16_t kSenderName = 0x0C1A;
constexpr std::uint16_t kSenderEmailAddress = 0x0C1F;
constexpr std::uint16_t kRecipientType = 0x0C15;
constexpr std::uint16_t kMessageDeliveryTime = 0x0E06;
constexpr std::uint16_t kMessageFlags = 0x0E07;
constexpr std::uint16_t kMessageSize = 0x0E08;
constexpr std::uint16_t kAttachSize = 0x0E20;
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kRtfCompressed = 0x1009;
constexpr std::uint16_t kHtml = 0x1013;
constexpr std::uint16_t kDisplayName = 0x3001;
constexpr std::uint16_t kAddressType = 0x3002;
constexpr std::uint16_t kEmailAddress = 0x3003;
constexpr std::uint16_t kContentCount = 0x3602;
constexpr std::uint16_t kContentUnreadCount = 0x3603;
constexpr std::uint16_t kSubfolders = 0x360A;
constexpr std::uint16_t kContainerClass = 0x3613;
constexpr std::uint16_t kAssocContentCount = 0x3617;
constexpr std::uint16_t kIpmSubtreeEntryId = 0x35E0;
constexpr std::uint16_t kAttachDataBinary = 0x3701; // PtypBinary, or PtypObject when embedded
constexpr std::uint16_t kAttachFilename = 0x3704;
constexpr std::uint16_t kAttachMethod = 0x3705;
constexpr std::uint16_t kAttachLongFilename = 0x3707;
constexpr std::uint16_t kRenderingPosition = 0x370B;
constexpr std::uint16_t kSmtpAddress = 0x39FE;
constexpr std::uint16_t kInternetCodepage = 0x3FDE;
constexpr std::uint16_t kMessageCodepage = 0x3FFD;
constexpr std::uint16_t kSenderSmtpAddress = 0x5D01;
constexpr std::uint16_t kPstPassword = 0x67FF;
constexpr std::uint16_t kLtpRowId = 0x67F2;
} // namespace propid

// PidTagAttachMethod values.
constexpr std::int64_t kAttachByValue = 1;
constexpr std::int64_t kAttachEmbeddedMessage = 5;

// ---------------------------------------------------------------------------------------------
// Typed access to raw property values

std::optional<std::int64_t> integerProp(const PropertyMap& props, std::uint16_t id);
// 100-ns intervals since 1601-01-01 UTC (PtypTime).
std::optional<std::uint64_t> timeProp(const PropertyMap& props, std::uint16_t id);
// Text as UTF-8: PtypString from UTF-16LE, PtypString8 decoded from `codepage` (a Windows code
// page number; 0 means windows-1252). Binary values are not text and give nullopt.
std::optional<std::string> stringProp(const PropertyMap& props, std::uint16_t id,
                                      std::uint32_t codepage = 0);
// Decodes 8-bit text in a Windows code page to UTF-8 (invalid bytes become U+FFFD).
std::string decodeCodepage(std::span<const std::uint8_t> bytes, std::uint32_t codepage);
// "YYYY-MM-DDThh:mm:ssZ" for a FILETIME value.
std::string filetimeToIso8601(std::uint64_t filetime);

// ---------------------------------------------------------------------------------------------
// Objects

struct PstFolder {
    std::uint32_t nid = 0;
    std::uint32_t parentNid = 0;
    PropertyMap props;
    std::vector<std::uint32_t> subfolders;    // from the hierarchy table, in table order
    std::vector<TableRow> contents;           // contents table rows (rowId = message NID)
    std::vector<TableRow> associatedContents; // associated contents table rows
};

struct PstAttachment {
    std::uint32_t nid = 0; // the attachment's subnode NID within its message
    NodeRef ref;
    PropertyMap tableRow; // its row of the attachment table
    // Its own property context. The attachment data, when kept in a subnode, is not loaded
    // here (its value has `subnode` set); attachmentData() streams it.
    PropertyMap props;
};

struct PstMessage {
    std::uint32_t nid = 0; // the message node (0 for an embedded message)
    NodeRef ref;
    PropertyMap props;
    std::vector<PropertyMap> recipients;    // recipient table rows
    std::vector<PstAttachment> attachments; // in attachment table order
    // Code page for the message's 8-bit strings (message, internet, then store code page).
    std::uint32_t codepage = 0;
};

// One entry of the named-property map: property id 0x8000 + index names (guid, number) or
// (guid, name).
struct NamedProperty {
    std::uint16_t propId = 0;
    std::array<std::uint8_t, 16> guid{};
    bool isString = false;
    std::uint32_t number = 0;
    std::string name; // UTF-8
};

class PstReader {
public:
    static ReadResult<PstReader> open(const std::string& path);
    static ReadResult<PstReader> fromBytes(std::vector<std::uint8_t> bytes);

    const NodeDatabase& ndb() const { return db_; }
    const Header& header() const { return db_.header(); }

    // The message store object's properties (NID_MESSAGE_STORE).
    ReadResult<PropertyMap> storeProperties() const;
    // PidTagPstPassword: the CRC-32 of the password, when one is set.
    std::optional<std::uint32_t> passwordCrc() const;
    // The folder the store names as the top of its IPM subtree ("Top of Personal Folders").
    ReadResult<std::uint32_t> ipmSubtree() const;

    ReadResult<PstFolder> folder(std::uint32_t nid) const;
    ReadResult<PstMessage> message(std::uint32_t nid) const;
    // The message embedded in an attachment (PidTagAttachMethod 5).
    ReadResult<PstMessage> embeddedMessage(const PstAttachment& attachment) const;
    // Streams an attachment's data (PidTagAttachDataBinary) block by block; returns its size.
    ReadResult<std::uint64_t>
    attachmentData(const PstAttachment& attachment,
                   const std::function<void(std::span<const std::uint8_t>)>& visit) const;
    ReadResult<std::vector<std::uint8_t>> attachmentBytes(const PstAttachment& attachment) const;

    ReadResult<std::vector<NamedProperty>> namedProperties() const;

    // The code page 8-bit strings of the store and its folders are read in (the store's
    // PidTagMessageCodepage or internet code page; windows-1252 when it names none).
    std::uint32_t storeCodepage() const { return storeCodepage_; }

private:
    explicit PstReader(NodeDatabase db) : db_(std::move(db)) {}
    static ReadResult<PstReader> finish(ReadResult<NodeDatabase> db);
    ReadResult<PstMessage> readMessage(std::uint32_t nid, const NodeRef& ref) const;
    ReadResult<NodeContext> attachmentContext(const PstAttachment& attachment) const;

    NodeDatabase db_;
    std::uint32_t storeCodepage_ = 0;
};

} // namespace parvelle::pst
