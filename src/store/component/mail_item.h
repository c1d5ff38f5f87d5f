#pragma once
// The item object of the automation model and its recipient and attachment collections. An item
// holds an in-memory MAPI message; its dispatch ids set and read properties of that message, and
// Save hands the message to the item's sink (a PST folder or a message file).
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_target.h"
#include "store/component/dispatch.h"
#include "store/mapi/message.h"

namespace parvelle::component {

class ItemKind;

// Where a saved item goes.
class ItemSink {
public:
    virtual ~ItemSink() = default;
    // The id standing for a named property where the item is stored.
    virtual std::optional<std::uint16_t> namedPropertyId(const mapi::NamedProperty& name) = 0;
    // Stores the message (a copy: the item stays usable). False with a reason on failure.
    virtual bool commit(const mapi::Message& message, std::string& error) = 0;
    // The item is done with: a file written only as an intermediate step is removed.
    virtual void discard() {}
};

// Writers of the save-as types (message file formats). Each writes the message to a file
// (platform::FileTarget: a path to replace, or a file reserved for the write).
struct FileWriters {
    using Writer = bool (*)(const mapi::Message&, const platform::FileTarget& target,
                            std::string& error);
    // Whether the message can be written as an MSG file, false with the reason when not: what the
    // save of an item kept in an intermediate file checks instead of writing the file.
    using Check = bool (*)(const mapi::Message&, std::string& error);
    Writer msg = nullptr;
    Writer eml = nullptr;
    Writer rtf = nullptr;
    Writer html = nullptr;
    Check msgCheck = nullptr;
};

// Save-as types the writers pass (DISPID 0x48).
enum SaveAsType : std::int32_t {
    kSaveAsRtf = 1,
    kSaveAsMsgAnsi = 3,
    kSaveAsHtml = 5,
    kSaveAsMsgUnicode = 9,
    kSaveAsEml = 0x407,
};

class MailItem : public DispatchObject {
public:
    MailItem(std::string messageClass, std::shared_ptr<ItemSink> sink, FileWriters writers);

    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

    mapi::Message& message() { return message_; }
    const mapi::Message& message() const { return message_; }
    // The named property behind a tag id that this item handed out (DISPID 2), if any.
    const mapi::NamedProperty* namedPropertyFor(std::uint16_t id) const;
    // Sets a property by full tag, as the indexed field put does; named ids resolve through the
    // names this item handed out.
    void setTagged(mapi::PropTag tag, const Variant& value);
    void setNamed(const mapi::NamedProperty& name, mapi::PropValue value);
    const mapi::PropValue* getNamed(const mapi::NamedProperty& name) const;
    // Adds a recipient row (kinds 1 to 3) or sets the sender (kind 0).
    void addRecipient(const std::string& name, const std::string& address,
                      const std::string& addressType, std::int32_t kind);
    // Save (into the item's folder or file) and SaveAs (a message file of the given type).
    void save();
    void saveAs(const platform::FileTarget& target, std::int32_t type);

    std::shared_ptr<ItemSink> sink() const { return sink_; }

private:
    void setRecipientsFromText(const std::string& text, std::int32_t kind);

    mapi::Message message_;
    std::shared_ptr<ItemSink> sink_;
    FileWriters writers_;
    std::map<std::uint16_t, mapi::NamedProperty> namedIds_;
    // The typed members of a contact, appointment, task, list or note (nullptr for a message).
    std::shared_ptr<ItemKind> kind_;
};

// Recipients collection: Add (DISPID 3).
class Recipients : public DispatchObject {
public:
    explicit Recipients(std::shared_ptr<MailItem> item) : item_(std::move(item)) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

private:
    std::shared_ptr<MailItem> item_;
};

class Attachment;

// Attachments collection: Add (0x65), Count (0x50), Item (0).
class Attachments : public DispatchObject {
public:
    explicit Attachments(std::shared_ptr<MailItem> item) : item_(std::move(item)) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

private:
    std::shared_ptr<MailItem> item_;
};

// One attachment of an item, by index into the item's message.
class Attachment : public DispatchObject {
public:
    Attachment(std::shared_ptr<MailItem> item, std::size_t index)
        : item_(std::move(item)), index_(index) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

private:
    mapi::Attachment& attachment();
    std::shared_ptr<MailItem> item_;
    std::size_t index_;
};

// An attachment whose bytes are read from a file kept open from now on, so that the file may be
// deleted before the message is stored. Nullopt when the file cannot be opened. A path registered
// with registerAttachmentSource is served from its registered content instead of the disk.
std::optional<mapi::AttachmentContent> openAttachmentFile(const std::string& path,
                                                          std::string& error);

// Attachment bytes that callers name by a file path without writing the file: the save job hands
// attachments straight from the archive to the item this way instead of copying each one to disk
// and back. The registration lasts until it is removed.
void registerAttachmentSource(const std::string& path, mapi::AttachmentContent content);
// True when `path` was registered (and is no longer).
bool unregisterAttachmentSource(const std::string& path);

// Text to FILETIME: an automation date taken as UTC, or as local time.
mapi::FileTime fileTimeFromUtcDate(Date date);
mapi::FileTime fileTimeFromLocalDate(Date date);

} // namespace parvelle::component
