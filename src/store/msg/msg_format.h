#pragma once
// Names and layout constants of MSG files (MS-OXMSG): a compound file whose storages hold one
// message object each (the message, its recipients, attachments and embedded messages), with a
// property stream per object and one stream per variable-size value.
#include "store/mapi/property.h"
#include "store/msg/compound_file_format.h"

#include <cstdint>
#include <string>

namespace parvelle::msg {

inline constexpr const char* kPropertiesStream = "__properties_version1.0";
inline constexpr const char* kNameIdStorage = "__nameid_version1.0";
inline constexpr const char* kRecipientPrefix = "__recip_version1.0_#";
inline constexpr const char* kAttachmentPrefix = "__attach_version1.0_#";
inline constexpr const char* kSubstgPrefix = "__substg1.0_";
// The storage that holds an embedded message inside its attachment's storage.
inline constexpr const char* kEmbeddedMessageStorage = "__substg1.0_3701000D";

// Streams of the named-property mapping storage.
inline constexpr const char* kGuidStream = "__substg1.0_00020102";
inline constexpr const char* kEntryStream = "__substg1.0_00030102";
inline constexpr const char* kStringStream = "__substg1.0_00040102";
inline constexpr std::uint32_t kNameIdHashBuckets = 0x1F;
inline constexpr std::uint32_t kNameIdHashBase = 0x1000;

// Property stream header sizes, which differ by object kind.
inline constexpr std::size_t kTopLevelHeaderSize = 32;
inline constexpr std::size_t kEmbeddedHeaderSize = 24;
inline constexpr std::size_t kRecipientHeaderSize = 8;
inline constexpr std::size_t kAttachmentHeaderSize = 8;
inline constexpr std::size_t kPropertyEntrySize = 16;

// Property entry flags.
inline constexpr std::uint32_t kPropAttrMandatory = 0x1;
inline constexpr std::uint32_t kPropAttrReadable = 0x2;
inline constexpr std::uint32_t kPropAttrWritable = 0x4;

// The size recorded for a value that is a storage (an embedded message).
inline constexpr std::uint32_t kStorageValueSize = 0xFFFFFFFF;

// Objects per message: the format allows at most 2048 recipient and 2048 attachment storages.
inline constexpr std::size_t kMaxRecipients = 2048;
inline constexpr std::size_t kMaxAttachments = 2048;

// PidTagStoreSupportMask and the bit that says strings are stored as Unicode.
inline constexpr mapi::PropTag kStoreSupportMask = 0x340D0003;
inline constexpr std::int32_t kStoreUnicodeOk = 0x00040000;
// The mask Outlook writes into MSG files it saves.
inline constexpr std::int32_t kDefaultStoreSupportMask = 0x00040E79;

// CLSID of the root storage of a message file {00020D0B-0000-0000-C000-000000000046}.
inline constexpr cfb::Clsid kMessageClsid = {0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// "__substg1.0_" followed by the tag in upper-case hex.
std::string valueStreamName(mapi::PropTag tag);
// The stream of value `index` of a variable-size multi-valued property.
std::string multiValueStreamName(mapi::PropTag tag, std::uint32_t index);
std::string recipientStorageName(std::uint32_t index);
std::string attachmentStorageName(std::uint32_t index);

} // namespace parvelle::msg
