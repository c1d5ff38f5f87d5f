#pragma once
// The records of the mailbox model a scan builds from one archive. Items are tied to their folder
// by a text key (`folderKey`: the account name, then the folder path below it, joined by "/"),
// never by pointers.
#include <cstdint>
#include <string>
#include <vector>

namespace parvelle::mailbox {

// Handle of a node of the folder tree (FolderTree); 0 means none.
using TreeItem = std::uint32_t;

enum class SaveFormat : std::int32_t {
    None = 0,
    Pst = 1,
    Msg = 2,
    Eml = 3,
    Rtf = 4,
    Html = 5,
    Pdf = 6,
    Office365 = 7,
};

enum class ProgressMode : std::int32_t { Idle = 0, Scanning = 1, Saving = 3, Listing = 4 };

enum class JobKind : std::int32_t { None = -1, Scan = 1, Save = 3, ListFolder = 4 };

// Where an item's bytes are in the archive. Stored members are read in place; a deflated member
// is inflated whole and the item is the slice [innerOffset, innerOffset + size) of it.
struct ItemSource {
    std::int64_t offset = 0;      // first data byte of the item (stored) or of its member
    std::int64_t size = 0;        // bytes of the item's text
    std::uint16_t method = 0;     // 0 stored, 8 deflated
    std::int64_t packedSize = 0;  // compressed bytes of the member (deflated only)
    std::int64_t memberSize = 0;  // inflated bytes of the whole member (deflated only)
    std::int64_t innerOffset = 0; // item start inside the inflated member (deflated only)
};

// One archive member located by the scan, or one item cut out of an aggregate document.
struct FetchFileDetails : ItemSource {
    std::string folderKey;
};

// A directory member of the archive, or a folder implied by a member path.
struct basic_info {
    std::string path;
};

// A file member of the archive that an item may refer to as an attachment.
struct AttachmentDetails : ItemSource {
    std::string memberKey;
};

// One node of the folder tree (account or folder).
struct Name_detailsNew {
    TreeItem treeItem = 0;
    std::string name;
    std::string parentKey;
    std::string key;
    std::string nodeKind; // "Account" or "Folder"
};

// Summary of one item, as shown in the item list and used to find the item again.
struct RecoveredOlmHeaderData : ItemSource {
    std::int32_t hasAttachments = 0;
    std::string from;
    std::string to;
    std::string cc;
    std::string subject;
    std::string date;
    std::string attachmentNames;
    // The kind of the item's document ("email", "contact", "group", "task", "note",
    // "appointment"); empty when the document was not recognised.
    std::string kind;
};

// The item summaries of one folder node.
struct Name_details {
    TreeItem treeItem = 0;
    std::string folderName;
    std::string parentKey;
    std::string archivePath;
    std::string nodeKind;
    std::vector<RecoveredOlmHeaderData> items;
};

struct stAccountinfo {
    std::string name;
    TreeItem treeItem = 0;
};

struct PstFolderInfo {
    std::string name;
};

// An attachment named by an item document.
struct AttachmentInfo {
    std::string displayName;
    std::string memberKey;
    // The member path the item names ("OPFAttachmentURL"); found there first.
    std::string memberPath;
};

// An attachment copied out of the archive into a file.
struct AttachmentBasicInfo {
    std::string displayName;
    std::string filePath;
};

// One member of the contact group being converted.
struct DIST_List {
    std::string displayName;
    std::string address;
    std::string addressType;
};

} // namespace parvelle::mailbox
