#pragma once
// Deterministic OLM fixture generator: the archives every test, the bundled sample and the
// benchmarks use.
//
// A fixture is described as accounts, folders and items (the structs below carry the fields the
// OLM documents carry), then written with writeArchive(). The documents look like Outlook for
// Mac's: no XML declaration, every element with xml:space="preserve", child elements and
// attributes in alphabetical order, aggregate documents in the exact byte form the splitter
// cuts them by. Member paths follow the archive scanner's grammar:
//
//   Accounts/<account>/com.microsoft.__Messages/<folder>/.../message_00000.xml
//   Accounts/<account>/com.microsoft.__Messages/<folder>/com.microsoft.__Attachments/<id>_0000
//   Accounts/<account>/<item folder path>/Contacts.xml (Groups, Calendar, Tasks, Notes likewise)
//   Local/com.microsoft.__Messages/<folder>/...       and  Local/<item folder path>/...
//
// Every folder level gets a directory member. Dates are document text ("2013-04-05T10:20:30").
// Whatever a description does not set is left out of the document or written with Outlook's
// default, so that a test's fixture is exactly what it spells out.
#include "olmgen/payload.h"
#include "olmgen/zip_writer.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parvelle::olmgen {

// ----------------------------------------------------------------------------------------------
// Description

// Escape hatches for documents the structs cannot express (edge cases, damage).
struct DocumentOverrides {
    // Extra child elements (name, text), sorted in with the generated ones.
    std::vector<std::pair<std::string, std::string>> extraElements;
    // Names of generated child elements to leave out (e.g. "OPFMessageCopySubject").
    std::vector<std::string> omittedElements;
    // When not empty, written verbatim instead of the generated text: the whole document of a
    // mail, or the item element of an aggregate document (from its start tag to its end tag).
    std::string rawXml;
};

// An "emailAddress" entry: OPFContactEmailAddressName is omitted when `name` is empty,
// OPFContactEmailAddressAddress when `address` is empty.
struct Address {
    std::string name;
    std::string address;
};

struct Attachment {
    std::string name;        // OPFAttachmentName
    std::string extension;   // OPFAttachmentContentExtension; omitted when empty
    std::string contentType; // OPFAttachmentContentType
    std::string contentId;   // OPFAttachmentContentID; omitted when empty
    Payload content;         // member data; OPFAttachmentContentFileSize is its size
    // Member file name inside com.microsoft.__Attachments; empty: "<messageId>_NNNN" as Outlook
    // names them (NNNN = index in the mail). OPFAttachmentURL is the member's full path.
    std::string fileName;
};

struct Mail {
    std::string messageId; // OPFMessageCopyMessageID; empty: derived from the mail's position
    std::string subject;   // OPFMessageCopySubject (and OPFMessageCopyThreadTopic)
    Address from;          // OPFMessageCopyFromAddresses (and OPFMessageCopySenderAddress)
    std::vector<Address> to, cc, bcc; // element omitted when the list is empty
    std::string sentTime;             // OPFMessageCopySentTime
    std::string receivedTime;         // OPFMessageCopyReceivedTime
    std::string modDate;              // OPFMessageCopyModDate; empty: receivedTime
    std::string body;                 // OPFMessageCopyBody (plain text)
    std::string htmlBody;             // OPFMessageCopyHTMLBody; omitted when empty
    int priority = 3;                 // OPFMessageGetPriority
    bool isRead = true;               // OPFMessageGetIsRead
    bool isOutgoing = false;          // OPFMessageIsOutgoing and OPFMessageGetWasSent
    std::vector<Attachment> attachments;
    DocumentOverrides overrides;
};

struct ContactEmail {
    std::string address;
    std::string type = "0"; // OPFContactEmailAddressType: "0" work, "1" home, "2" other
};

struct Contact {
    std::string displayName, firstName, middleName, lastName, nickName;
    std::string title, nameSuffix;             // OPFContactCopyTitle, OPFContactCopySetNameSuffix
    std::string company, jobTitle, department; // Business{Company,Title,Department}
    std::vector<ContactEmail> emails;          // OPFContactCopyEmailAddressList; the first one
                                               // is also OPFContactCopyDefaultEmailAddress
    std::string imAddress;                     // OPFContactCopyDefaultIMAddress
    std::string businessPhone, homePhone, cellPhone, businessFax;
    std::string businessStreet, businessCity, businessState, businessZip, businessCountry;
    std::string homeStreet, homeCity, homeState, homeZip, homeCountry;
    std::string businessHomePage;
    std::string birthday, anniversary, modDate;
    std::vector<std::string> children;
    std::string spouse, notes;
    DocumentOverrides overrides;
};

struct Group {
    std::string displayName;      // OPFGroupCopyDisplayName
    std::vector<Address> members; // OPFGroupCopyMemberList
    std::string notes;            // OPFGroupCopyNotes
    std::string modDate;          // OPFGroupCopyModDate
    DocumentOverrides overrides;
};

// OPFCalendarEventCopyRecurrence / OPFTaskCopyRecurrence.
struct Recurrence {
    std::string patternType = "Weekly"; // OPFRecurrencePatternType
    int interval = 1;                   // OPFRecurrencePatternInterval
    std::string startDate, endDate;     // OPFRecurrenceCopyStartDate / EndDate (empty: no end)
    int occurrences = 0;                // OPFRecurrenceGetOccurenceCount; 0: omitted
    std::vector<std::string> days; // lower-case day names set in OPFRecurrencePatternDaysOfWeek
    int dayOfMonth = 0;            // OPFRecurrencePatternDayOfMonth; 0: omitted
    int month = 0;                 // OPFRecurrencePatternMonth; 0: omitted
};

struct Attendee {
    std::string name, address; // OPFCalendarAttendeeName / Address (omitted when empty)
    int type = 1;              // OPFCalendarAttendeeType: 1 required, 2 optional, 3 resource
    int status = 0;            // OPFCalendarAttendeeStatus
    bool responseRequested = true;
};

struct Event {
    std::string summary;               // OPFCalendarEventCopySummary
    std::string organizer;             // OPFCalendarEventCopyOrganizer (an address)
    std::vector<Attendee> attendees;   // OPFCalendarEventCopyAttendeeList
    std::string startTime, endTime;    // OPFCalendarEventCopyStartTime / EndTime (UTC)
    std::string modDate;               // OPFCalendarEventCopyModDate
    std::string location, description; // description is HTML or plain text
    std::string timeZone = "UTC";      // OPFCalendarEventCopyTimeZone
    bool allDay = false, isPrivate = false, hasReminder = false;
    int reminderDelta = 15; // minutes; OPFCalendarEventCopyReminderDelta
    std::optional<Recurrence> recurrence;
    DocumentOverrides overrides;
};

struct Task {
    std::string name, note; // OPFTaskCopyName / OPFTaskCopyNote
    std::string startDateTime, dueDateTime, completedDateTime, reminderTime, modDate;
    int priority = 3; // OPFTaskGetPriority
    std::optional<Recurrence> recurrence;
    DocumentOverrides overrides;
};

struct Note {
    std::string title, text;           // OPFNoteCopyTitle / OPFNoteCopyText
    std::string creationDate, modDate; // OPFNoteCopyCreationDate / OPFNoteCopyModDate
    std::string folderRecordUid;       // OPFNoteCopyFolderRecordUID
    DocumentOverrides overrides;
};

// A mail folder below com.microsoft.__Messages; `name` is one path component.
struct MailFolder {
    std::string name;
    std::vector<Mail> mails;
    std::vector<MailFolder> folders;
};

// A folder of aggregate documents: each non-empty list becomes its document
// (Contacts.xml, Groups.xml, Calendar.xml, Tasks.xml, Notes.xml) in this folder.
struct ItemFolder {
    std::string path; // below the account folder, "/"-separated, e.g. "Calendar/Birthdays"
    std::vector<Contact> contacts;
    std::vector<Group> groups;
    std::vector<Event> events;
    std::vector<Task> tasks;
    std::vector<Note> notes;
};

inline constexpr std::string_view kLocalAccount = "Local";

struct Account {
    std::string name; // folder below "Accounts/", or kLocalAccount for the "Local" tree
    std::vector<MailFolder> mailFolders;
    std::vector<ItemFolder> itemFolders;
};

// Categories.xml at the archive root (left out when empty).
struct Category {
    std::string name;
    std::string color = "r:0.26 g:0.60 b:0.00";
};

struct ArchiveDescription {
    std::vector<Category> categories;
    std::vector<Account> accounts;
};

// ----------------------------------------------------------------------------------------------
// Expected facts: what a correct reader must find, item by item, for integration tests. They
// follow the description's fields; DocumentOverrides are not reflected in them.

enum class ItemKind { Mail, Contact, Group, Event, Task, Note };

struct AttachmentFacts {
    std::string name;        // OPFAttachmentName as written
    std::string extension;   // OPFAttachmentContentExtension as written
    std::string displayName; // the name the mail reader saves it under
    std::string memberPath;  // full member name in the archive (also OPFAttachmentURL)
    std::string memberKey;   // key of the attachment member in the scanner's table
    Payload content;         // the member's bytes
};

struct ItemFacts {
    ItemKind kind = ItemKind::Mail;
    std::string folderKey;            // e.g. "acct/Inbox/Projects/2024", "Local/Drafts"
    std::string documentPath;         // member holding the item (the aggregate document for
                                      // contacts, groups, events, tasks, notes)
    std::size_t indexInDocument = 0;  // position among the items of an aggregate document
    std::string subject;              // mail subject, contact/group display name, event summary,
                                      // task name, note title
    Address sender;                   // mail From; event organizer (as address)
    std::vector<Address> to, cc, bcc; // event attendees are in `to`; group members too
    std::string date;                 // the date the item list shows: mail sent time, event start,
                                      // contact/group/task mod date, note creation date
    std::string receivedTime;         // mails only
    std::vector<AttachmentFacts> attachments;
};

struct FolderFacts {
    std::string key;       // folder key of the tree node, e.g. "acct/Inbox/Projects"
    std::string name;      // display name
    std::string parentKey; // empty for accounts
    std::string
        directoryPath; // the directory member, e.g. "Accounts/acct/com.microsoft.__Messages/Inbox/"
    bool isAccount = false;
};

struct ArchiveFacts {
    std::vector<FolderFacts> folders; // accounts and folders that hold or may hold items
    std::vector<ItemFacts> items;     // in archive order
    std::string damagedMember;        // member touched by WriteOptions::damage, if any
};

// ----------------------------------------------------------------------------------------------
// Writing

enum class Damage {
    None,
    GarbageBetweenMembers, // junk bytes (with near-miss signatures) between members
    TruncatedFinalMember,  // the file ends halfway through the last member's data
    CorruptLocalSignature, // one local header starts "PK\2\4" instead of "PK\3\4"
    WrongExtraFieldLength, // one member carries a 29-byte extra field instead of 20
    NoDirectoryMembers,    // the archive holds files only
    BadCrc,                // one member's CRC-32 is wrong (local and central)
    BrokenXml,             // one mail document is cut short mid-element
};

// "garbage", "truncated", "bad-signature", "wrong-extra", "no-directories", "bad-crc",
// "broken-xml"; nullopt for an unknown name.
std::optional<Damage> damageFromName(std::string_view name);
std::string_view damageName(Damage damage);
std::vector<Damage> allDamageModes();

struct WriteOptions {
    Compression compression = Compression::Stored; // for every file member
    Damage damage = Damage::None;
};

struct WriteResult {
    std::string error; // empty on success
    ArchiveFacts facts;
    bool ok() const { return error.empty(); }
};

// The facts of a description, without writing anything.
ArchiveFacts describe(const ArchiveDescription& description);

// Writes the archive to `path` (through a temporary name in the same folder, renamed into
// place at the end). The same description and options always give the same bytes.
WriteResult writeArchive(const ArchiveDescription& description, const std::filesystem::path& path,
                         const WriteOptions& options = {});

// ----------------------------------------------------------------------------------------------
// Ready-made descriptions

// The bundled sample (samples/sample.olm): two accounts plus Local, nested and Unicode folder
// names, every item kind, attachments of every awkward sort; well under 1 MB.
ArchiveDescription sampleDescription();

struct LargeOptions {
    std::size_t mails = 20000;
    std::uint64_t attachmentBytes = 1000000000; // total over all attachments
    std::size_t contacts = 2000;
    std::size_t groups = 100;
    std::size_t events = 2000;
    std::size_t tasks = 1000;
    std::size_t notes = 1000;
    std::uint64_t seed = 1;
};

// A benchmark-sized archive; the defaults make about 1 GB.
ArchiveDescription largeDescription(const LargeOptions& options = {});

} // namespace parvelle::olmgen
