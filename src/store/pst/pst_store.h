#pragma once
// A Unicode PST file as a message store to write into.
//
//   std::string error;
//   auto store = pst::PstStore::create("/out/Mailbox.pst", {.displayName = "Mailbox"}, error);
//   auto inbox = store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error);
//   store->addMessage(*inbox, std::move(message), error);   // derives Outlook's properties
//   store->close(error);                                     // commit, rename into place
//
// create() writes to "<path>.partial" and close() renames it to `path`, so a half-written file
// never carries the final name. open() appends to an existing Unicode file in place. Both hold an
// advisory lock on the file while it is open; a second writer gets a clear error.
//
// Messages are written by a thread of the store: addMessage() checks the message, gives its named
// properties their ids, reads its attachments, queues it and returns, so the caller builds the
// next message while this one is encoded and written. Whatever can fail for one message fails in
// addMessage() itself; what is left for the thread is writing the file, and an I/O error there
// is reported by every later addMessage(), commit() and close(). Every other call first waits
// until the queued messages are written. A message with very large attachments is written on the
// caller's thread instead, its attachments read straight into the file's blocks.
//
// Safety: the store commits by itself every `commitEvery` messages (more rarely as a folder
// grows), without waiting for the disk, and whenever commit() is called, which returns once the
// commit is durable; a process that dies keeps every message of the last durable commit, and an
// append that dies leaves the previous content untouched (see NdbWriter).
//
// Folders are named by their node id (FolderId). rootFolder() is the top of the visible folder
// tree ("Top of Personal Folders"), under which the callers create their folders.
#include "platform/background_worker.h"
#include "store/mapi/message.h"
#include "store/mapi/name_id_map.h"
#include "store/pst/ltp_writer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::pst {

class NdbWriter;
class PstReader;
class TableBuilder;

using FolderId = std::uint32_t;

struct FolderInfo {
    FolderId id = 0;
    std::string name;
    std::string containerClass;
    std::int32_t contentCount = 0;
    std::int32_t unreadCount = 0;
    std::vector<FolderId> children;
};

class PstStore {
public:
    struct Options {
        std::string displayName = "Personal Folders";
        // Stored as its CRC-32 in the store object (it encrypts nothing); empty for none.
        std::string password;
        // Messages between automatic commits (the interval grows with the store, see addMessage).
        std::size_t commitEvery = 1000;
    };

    ~PstStore();
    PstStore(const PstStore&) = delete;
    PstStore& operator=(const PstStore&) = delete;

    static std::unique_ptr<PstStore> create(const std::string& path, const Options& options,
                                            std::string& error);
    // Opens an existing Unicode PST to add folders and messages. ANSI files, files that are not
    // PSTs and files another process is writing are refused with a message in `error`.
    static std::unique_ptr<PstStore> open(const std::string& path, std::string& error);

    FolderId rootFolder() const { return ipmSubtree_; }
    const FolderInfo* folder(FolderId id) const;
    // The child of `parent` with exactly this display name, if any.
    std::optional<FolderId> findSubfolder(FolderId parent, std::string_view name) const;
    std::optional<FolderId> addFolder(FolderId parent, const std::string& name,
                                      const std::string& containerClass, std::string& error);

    // The id standing for a named property in this store (assigned on first use).
    std::optional<std::uint16_t> namedPropertyId(const mapi::NamedProperty& name);

    // The value Outlook keeps in PidTagPstPassword: the CRC-32 of the password's bytes.
    static std::uint32_t passwordCrcOf(std::string_view password);
    std::optional<std::uint32_t> passwordCrc() const { return passwordCrc_; }

    // Derives Outlook's properties on `message` and writes it into `folder`. Fails (and writes
    // nothing) for an attachment of 4 GB or more or one that cannot be read, when a named
    // property cannot get an id, and after an I/O error.
    bool addMessage(FolderId folder, mapi::Message message, std::string& error);

    bool commit(std::string& error);
    // Messages between automatic commits from now on.
    void setCommitInterval(std::size_t messages) { commitEvery_ = messages > 0 ? messages : 1; }
    // Commits and closes; a created file gets its final name. The store is unusable afterwards.
    bool close(std::string& error);

    const std::string& path() const { return finalPath_; }

private:
    struct Folder;
    PstStore();

    bool initNew(const Options& options, std::string& error);
    bool loadExisting(std::string& error);
    bool loadFolderTree(FolderId nid, FolderId parent, int depth, std::string& error);
    // Brings an existing folder's table rows into memory before it is first changed.
    bool loadFolderTables(Folder& f, std::string& error);
    Folder& newFolder(std::uint32_t nid, FolderId parent, const std::string& name,
                      const std::string& containerClass);
    void writeFolder(Folder& f);
    void writeStoreObject();
    void writeNameMap();
    void writeFixedNodes();
    struct Written {
        std::uint64_t bidData = 0;
        std::uint64_t bidSub = 0;
        std::uint64_t size = 0;
        TagValues props; // the message's, resolved to tags
    };
    // The message's values are moved into what is written, not copied: the caller hands over a
    // message of its own (embedded messages it shares with others are copied).
    std::optional<Written> writeMessage(mapi::Message& message, std::string& error);
    bool storeMessage(FolderId folder, mapi::Message& message, std::string& error);
    bool assignNamedIds(const mapi::Message& message, std::string& error);
    bool readContents(mapi::Message& message, std::string& error);
    void startWriter();
    void stopWriter();
    // The first failure of the store's thread, if any, among the messages written so far (with
    // `wait`, once every queued message is written).
    std::string writerFailure(bool wait) const;
    // Waits until every queued message is written; the first failure of the store's thread, if
    // any, is returned.
    std::string drain() const;
    // Commits; with `wait`, returns once the commit is durable.
    bool commitNow(std::string& error, bool wait = true);
    // The bag's values keyed by full tag, named ones by this store's ids, moved out of the bag
    // (left empty) rather than copied.
    std::optional<TagValues> resolveProperties(mapi::PropertyBag& bag, std::string& error);
    bool validate(const mapi::Message& message, std::string& error) const;
    void markFolderChanged(Folder& f);
    void setHierarchyRow(Folder& parent, const Folder& child);

    std::unique_ptr<NdbWriter> ndb_;
    // The file as it was opened, for the folders not yet loaded (null for a new file).
    std::unique_ptr<PstReader> existing_;
    std::string finalPath_;
    bool renameOnClose_ = false;
    bool closed_ = false;
    std::map<FolderId, std::unique_ptr<Folder>> folders_;
    FolderId ipmSubtree_ = 0;
    std::array<std::uint8_t, 16> storeUid_{};
    std::string displayName_;
    std::optional<std::uint32_t> passwordCrc_;
    mapi::NameIdMap nameMap_;
    std::size_t nameMapWritten_ = 0;
    bool storeDirty_ = false;
    std::size_t commitEvery_ = 1000;
    std::size_t sinceCommit_ = 0;
    std::size_t messageCount_ = 0;

    // Messages queued for the writing thread, and the bytes they may hold in memory in all: room
    // for dozens of messages lets the two threads even out mails that take one of them long (a
    // large body to parse, many attachments to write) instead of taking turns waiting.
    static constexpr std::size_t kMaxQueued = 64;
    static constexpr std::uint64_t kMaxQueuedBytes = 16u << 20;
    // Attachment bytes a queued message may hold in memory; larger ones are written at once.
    static constexpr std::uint64_t kMaxQueuedContent = 4u << 20;
    // Large attachment contents are read this many blocks at a time, into contentRun_.
    static constexpr std::size_t kContentRunBlocks = 128;
    std::vector<std::uint8_t> contentRun_; // on the writing thread
    std::unique_ptr<platform::BackgroundWorker> writer_;
    bool writerFailed_ = false;      // on the store's thread: skip what follows a failure
    mutable std::string writeError_; // the first failure reported by the store's thread
    // The name map is extended by the caller's thread (namedPropertyId) and by the store's.
    std::mutex nameMutex_;
};

} // namespace parvelle::pst
