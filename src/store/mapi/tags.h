#pragma once
// Property tags the engine sets or reads by name (MS-OXPROPS canonical names in comments).
#include "store/mapi/property.h"

namespace parvelle::mapi::tags {

using enum PropType;

// Messages
constexpr PropTag kImportance = makeTag(0x0017, Long);      // PidTagImportance
constexpr PropTag kMessageClass = makeTag(0x001A, Unicode); // PidTagMessageClass
constexpr PropTag kPriority = makeTag(0x0026, Long);        // PidTagPriority
constexpr PropTag kReadReceiptRequested = makeTag(0x0029, Boolean);
constexpr PropTag kSensitivity = makeTag(0x0036, Long);         // PidTagSensitivity
constexpr PropTag kSubject = makeTag(0x0037, Unicode);          // PidTagSubject
constexpr PropTag kClientSubmitTime = makeTag(0x0039, SysTime); // PidTagClientSubmitTime
constexpr PropTag kSentRepresentingSearchKey = makeTag(0x003B, Binary);
constexpr PropTag kSubjectPrefix = makeTag(0x003D, Unicode); // PidTagSubjectPrefix
constexpr PropTag kSentRepresentingEntryId = makeTag(0x0041, Binary);
constexpr PropTag kSentRepresentingName = makeTag(0x0042, Unicode);
constexpr PropTag kSentRepresentingAddrType = makeTag(0x0064, Unicode);
constexpr PropTag kSentRepresentingEmail = makeTag(0x0065, Unicode);
constexpr PropTag kConversationTopic = makeTag(0x0070, Unicode); // PidTagConversationTopic
constexpr PropTag kConversationIndex = makeTag(0x0071, Binary);
constexpr PropTag kTransportHeaders = makeTag(0x007D, Unicode); // PidTagTransportMessageHeaders
constexpr PropTag kSenderEntryId = makeTag(0x0C19, Binary);
constexpr PropTag kSenderName = makeTag(0x0C1A, Unicode);
constexpr PropTag kSenderSearchKey = makeTag(0x0C1D, Binary);
constexpr PropTag kSenderAddrType = makeTag(0x0C1E, Unicode);
constexpr PropTag kSenderEmail = makeTag(0x0C1F, Unicode);
constexpr PropTag kDisplayBcc = makeTag(0x0E02, Unicode);          // PidTagDisplayBcc
constexpr PropTag kDisplayCc = makeTag(0x0E03, Unicode);           // PidTagDisplayCc
constexpr PropTag kDisplayTo = makeTag(0x0E04, Unicode);           // PidTagDisplayTo
constexpr PropTag kMessageDeliveryTime = makeTag(0x0E06, SysTime); // PidTagMessageDeliveryTime
constexpr PropTag kMessageFlags = makeTag(0x0E07, Long);           // PidTagMessageFlags
constexpr PropTag kMessageSize = makeTag(0x0E08, Long);            // PidTagMessageSize
constexpr PropTag kMessageStatus = makeTag(0x0E17, Long);          // PidTagMessageStatus
constexpr PropTag kNormalizedSubject = makeTag(0x0E1D, Unicode);   // PidTagNormalizedSubject
constexpr PropTag kHasAttachments = makeTag(0x0E1B, Boolean);      // PidTagHasAttachments
constexpr PropTag kRtfInSync = makeTag(0x0E1F, Boolean);
constexpr PropTag kBody = makeTag(0x1000, Unicode); // PidTagBody
constexpr PropTag kRtfCompressed = makeTag(0x1009, Binary);
constexpr PropTag kHtml = makeTag(0x1013, Binary);     // PidTagHtml
constexpr PropTag kNativeBody = makeTag(0x1016, Long); // PidTagNativeBody
constexpr PropTag kInternetMessageId = makeTag(0x1035, Unicode);
constexpr PropTag kCreationTime = makeTag(0x3007, SysTime); // PidTagCreationTime
constexpr PropTag kLastModificationTime = makeTag(0x3008, SysTime);
constexpr PropTag kSearchKey = makeTag(0x300B, Binary);      // PidTagSearchKey
constexpr PropTag kRecordKey = makeTag(0x0FF9, Binary);      // PidTagRecordKey
constexpr PropTag kEntryId = makeTag(0x0FFF, Binary);        // PidTagEntryId
constexpr PropTag kObjectType = makeTag(0x0FFE, Long);       // PidTagObjectType
constexpr PropTag kInternetCodepage = makeTag(0x3FDE, Long); // PidTagInternetCodepage
constexpr PropTag kMessageLocaleId = makeTag(0x3FF1, Long);
constexpr PropTag kMessageCodepage = makeTag(0x3FFD, Long);

// Recipients
constexpr PropTag kRecipientType = makeTag(0x0C15, Long); // PidTagRecipientType
constexpr PropTag kResponsibility = makeTag(0x0E0F, Boolean);
constexpr PropTag kDisplayName = makeTag(0x3001, Unicode);  // PidTagDisplayName
constexpr PropTag kAddressType = makeTag(0x3002, Unicode);  // PidTagAddressType
constexpr PropTag kEmailAddress = makeTag(0x3003, Unicode); // PidTagEmailAddress
constexpr PropTag kComment = makeTag(0x3004, Unicode);
constexpr PropTag kDisplayType = makeTag(0x3900, Long); // PidTagDisplayType
constexpr PropTag kTransmittableDisplayName = makeTag(0x3A20, Unicode);
constexpr PropTag kSmtpAddress = makeTag(0x39FE, Unicode); // PidTagSmtpAddress
constexpr PropTag kDisplayName7Bit = makeTag(0x39FF, Unicode);
constexpr PropTag kSendRichInfo = makeTag(0x3A40, Boolean);
constexpr PropTag kRowId = makeTag(0x3000, Long); // PidTagRowid

// Attachments
constexpr PropTag kAttachSize = makeTag(0x0E20, Long);            // PidTagAttachSize
constexpr PropTag kAttachNumber = makeTag(0x0E21, Long);          // PidTagAttachNumber
constexpr PropTag kAttachDataBinary = makeTag(0x3701, Binary);    // PidTagAttachDataBinary
constexpr PropTag kAttachDataObject = makeTag(0x3701, Object);    // PidTagAttachDataObject
constexpr PropTag kAttachExtension = makeTag(0x3703, Unicode);    // PidTagAttachExtension
constexpr PropTag kAttachFilename = makeTag(0x3704, Unicode);     // PidTagAttachFilename (8.3)
constexpr PropTag kAttachMethod = makeTag(0x3705, Long);          // PidTagAttachMethod
constexpr PropTag kAttachLongFilename = makeTag(0x3707, Unicode); // PidTagAttachLongFilename
constexpr PropTag kRenderingPosition = makeTag(0x370B, Long);     // PidTagRenderingPosition
constexpr PropTag kAttachMimeTag = makeTag(0x370E, Unicode);      // PidTagAttachMimeTag
constexpr PropTag kAttachContentId = makeTag(0x3712, Unicode);    // PidTagAttachContentId
constexpr PropTag kAttachFlags = makeTag(0x3714, Long);
constexpr PropTag kAttachmentHidden = makeTag(0x7FFE, Boolean); // PidTagAttachmentHidden

// Folders and stores
constexpr PropTag kContentCount = makeTag(0x3602, Long); // PidTagContentCount
constexpr PropTag kContentUnreadCount = makeTag(0x3603, Long);
constexpr PropTag kSubfolders = makeTag(0x360A, Boolean);     // PidTagSubfolders
constexpr PropTag kContainerClass = makeTag(0x3613, Unicode); // PidTagContainerClass
constexpr PropTag kPstPassword = makeTag(0x67FF, Long);       // PidTagPstPassword

// PidTagMessageFlags bits.
constexpr std::int32_t kMsgFlagRead = 0x0001;
constexpr std::int32_t kMsgFlagUnmodified = 0x0002;
constexpr std::int32_t kMsgFlagSubmitted = 0x0004;
constexpr std::int32_t kMsgFlagUnsent = 0x0008;
constexpr std::int32_t kMsgFlagHasAttach = 0x0010;
constexpr std::int32_t kMsgFlagFromMe = 0x0020;
constexpr std::int32_t kMsgFlagAssociated = 0x0040;

// PidTagRecipientType values.
constexpr std::int32_t kRecipOriginator = 0;
constexpr std::int32_t kRecipTo = 1;
constexpr std::int32_t kRecipCc = 2;
constexpr std::int32_t kRecipBcc = 3;

// PidTagAttachMethod values.
constexpr std::int32_t kAttachByValue = 1;
constexpr std::int32_t kAttachEmbeddedMessage = 5;

// PidTagObjectType values.
constexpr std::int32_t kObjectStore = 1;
constexpr std::int32_t kObjectFolder = 3;
constexpr std::int32_t kObjectMessage = 5;
constexpr std::int32_t kObjectMailUser = 6;
constexpr std::int32_t kObjectAttachment = 7;
constexpr std::int32_t kObjectDistList = 8;

} // namespace parvelle::mapi::tags
