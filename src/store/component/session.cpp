#include "store/component/session.h"

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "store/pst/pst_store.h"

namespace parvelle::component {
namespace {

using pst::FolderId;

// Session dispatch ids:
enum SessionDispid : std::int32_t {
    kLoggedOn = 0x02,             // get: whether a store is logged on
    kLogOnProfile = 0x04,         // method: log on to an Outlook profile (none exist here)
    kStores = 0x06,               // get: the stores of the logon
    kLogOff = 0x12,               // method: commit and close the logged-on store
    kNewFileItem = 0x6002001E,    // method (path, class, 2[, intermediate]): an item kept in a
                                  // message file; with intermediate true the file is only a step
                                  // towards another format, and a save just checks it could be
                                  // written
    kLogOnPst = 0x6002001F,       // method (path, -, -, password, -): open or create a PST
    kLogOnOffice365 = 0x6002003E, // method (mail id, mail id, password): online mailbox
};

class PstFolderSink : public ItemSink {
public:
    PstFolderSink(std::shared_ptr<PstLogon> logon, FolderId folder)
        : logon_(std::move(logon)), folder_(folder) {}
    std::optional<std::uint16_t> namedPropertyId(const mapi::NamedProperty& name) override {
        return logon_->store ? logon_->store->namedPropertyId(name) : std::nullopt;
    }
    bool commit(const mapi::Message& message, std::string& error) override {
        if (!logon_->store) {
            error = "the store is no longer open";
            return false;
        }
        return logon_->store->addMessage(folder_, message, error);
    }

private:
    std::shared_ptr<PstLogon> logon_;
    FolderId folder_;
};

class MessageFileSink : public ItemSink {
public:
    MessageFileSink(std::string path, FileWriters writers, std::shared_ptr<mapi::NameIdMap> names,
                    bool intermediate)
        : path_(std::move(path)), writers_(writers), names_(std::move(names)),
          intermediate_(intermediate) {}
    std::optional<std::uint16_t> namedPropertyId(const mapi::NamedProperty& name) override {
        return names_->idFor(name);
    }
    bool commit(const mapi::Message& message, std::string& error) override {
        if (writers_.msg == nullptr) {
            error = "this build cannot write message files";
            return false;
        }
        // A file that would only be removed again once the item is converted is not written:
        // the save fails where writing it would, and succeeds otherwise.
        if (intermediate_ && writers_.msgCheck != nullptr)
            return writers_.msgCheck(message, error);
        if (!written_) {
            // A new file is written in place, which spares creating, renaming and deleting a
            // temporary file per item; an existing one is replaced as a whole.
            const int fd = ::open(path_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (fd >= 0) {
                const platform::UniqueFd file(fd);
                if (!writers_.msg(message, {path_, file.get()}, error)) {
                    ::unlink(path_.c_str());
                    return false;
                }
                written_ = true;
                return true;
            }
        }
        if (!writers_.msg(message, path_, error))
            return false;
        written_ = true;
        return true;
    }
    void discard() override {
        if (written_) {
            std::error_code ec;
            std::filesystem::remove(path_, ec);
            written_ = false;
        }
    }

private:
    std::string path_;
    FileWriters writers_;
    std::shared_ptr<mapi::NameIdMap> names_;
    bool intermediate_;
    bool written_ = false;
};

class Items : public DispatchObject {
public:
    Items(std::shared_ptr<PstLogon> logon, FolderId folder, FileWriters writers)
        : logon_(std::move(logon)), folder_(folder), writers_(writers) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override {
        if (dispid == 4 && kind == CallKind::Method) // Add(message class): a new unsaved item
            return ObjectRef(std::make_shared<MailItem>(
                arg(args, 0).toString(), std::make_shared<PstFolderSink>(logon_, folder_),
                writers_));
        unknownMember("Items", dispid, kind);
    }

private:
    std::shared_ptr<PstLogon> logon_;
    FolderId folder_;
    FileWriters writers_;
};

class Folder;

class Subfolders : public DispatchObject {
public:
    Subfolders(std::shared_ptr<PstLogon> logon, FolderId parent, FileWriters writers)
        : logon_(std::move(logon)), parent_(parent), writers_(writers) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

private:
    std::shared_ptr<PstLogon> logon_;
    FolderId parent_;
    FileWriters writers_;
};

class Folder : public DispatchObject {
public:
    Folder(std::shared_ptr<PstLogon> logon, FolderId id, FileWriters writers)
        : logon_(std::move(logon)), id_(id), writers_(writers) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override {
        if (kind == CallKind::Get && dispid == 0x12) // Folders: the subfolder collection
            return ObjectRef(std::make_shared<Subfolders>(logon_, id_, writers_));
        if (kind == CallKind::Get && dispid == 0x11) // Items: the item collection
            return ObjectRef(std::make_shared<Items>(logon_, id_, writers_));
        unknownMember("Folder", dispid, kind);
    }
    FolderId id() const { return id_; }

private:
    std::shared_ptr<PstLogon> logon_;
    FolderId id_;
    FileWriters writers_;
};

Variant Subfolders::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    if (kind == CallKind::Method && dispid == 9) { // Item(name): the subfolder or none
        if (!logon_->store)
            return {};
        const auto found = logon_->store->findSubfolder(parent_, arg(args, 0).toString());
        if (!found)
            return {};
        return ObjectRef(std::make_shared<Folder>(logon_, *found, writers_));
    }
    if (kind == CallKind::Method && dispid == 4) { // Add(name, container class)
        if (!logon_->store)
            return {};
        std::string error;
        const std::string cls =
            args.size() > 1 && !args[1].isMissing() ? args[1].toString() : "IPF.Note";
        const auto added = logon_->store->addFolder(parent_, arg(args, 0).toString(), cls, error);
        if (!added)
            throw ComponentError("The folder could not be added: " + error);
        return ObjectRef(std::make_shared<Folder>(logon_, *added, writers_));
    }
    unknownMember("Folders", dispid, kind);
}

class Store : public DispatchObject {
public:
    Store(std::shared_ptr<PstLogon> logon, FileWriters writers)
        : logon_(std::move(logon)), writers_(writers) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override {
        if (kind == CallKind::Get && dispid == 0x68) { // IPMRootFolder: top of the folder tree
            if (!logon_->store)
                return {};
            return ObjectRef(
                std::make_shared<Folder>(logon_, logon_->store->rootFolder(), writers_));
        }
        if (kind == CallKind::Get && dispid == 0x7D1) // PstPath
            return logon_->path;
        unknownMember("Store", dispid, kind);
    }

private:
    std::shared_ptr<PstLogon> logon_;
    FileWriters writers_;
};

class Stores : public DispatchObject {
public:
    Stores(std::shared_ptr<PstLogon> logon, FileWriters writers)
        : logon_(std::move(logon)), writers_(writers) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override {
        if (kind == CallKind::Get && dispid == 2) // Count
            return static_cast<std::int32_t>(logon_ ? 1 : 0);
        if (kind == CallKind::Get && (dispid == 4 || dispid == 0)) { // DefaultStore / Item(1)
            if (!logon_ || (dispid == 0 && arg(args, 0).toInt() != 1))
                return {};
            return ObjectRef(std::make_shared<Store>(logon_, writers_));
        }
        unknownMember("Stores", dispid, kind);
    }

private:
    std::shared_ptr<PstLogon> logon_;
    FileWriters writers_;
};

} // namespace

PstLogon::~PstLogon() {
    if (store) {
        std::string error;
        store->close(error);
    }
}

Session::Session(FileWriters writers)
    : writers_(writers), fileNames_(std::make_shared<mapi::NameIdMap>()) {}

Session::~Session() = default;

ObjectRef Session::logOnPst(const std::string& path, const std::string& password) {
    logOff();
    auto logon = std::make_shared<PstLogon>();
    logon->path = path;
    std::string error;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        logon->store = pst::PstStore::open(path, error);
        if (!logon->store)
            throw ComponentError("The PST file could not be opened: " + error);
        const auto stored = logon->store->passwordCrc();
        if (stored && *stored != 0 && *stored != pst::PstStore::passwordCrcOf(password)) {
            std::string closeError;
            logon->store->close(closeError);
            logon->store.reset();
            throw ComponentError(
                std::string("The password of the PST file is not correct (error ") +
                kWrongPasswordCode + ")");
        }
    } else {
        pst::PstStore::Options options;
        options.displayName = std::filesystem::path(path).stem().string();
        options.password = password;
        logon->store = pst::PstStore::create(path, options, error);
        if (!logon->store)
            throw ComponentError("The PST file could not be created: " + error);
    }
    logon_ = logon;
    return std::make_shared<Store>(logon_, writers_);
}

void Session::logOff() {
    if (!logon_)
        return;
    auto logon = std::move(logon_);
    logon_.reset();
    if (logon->store) {
        std::string error;
        const bool ok = logon->store->close(error);
        logon->store.reset();
        if (!ok)
            throw ComponentError("The PST file could not be closed: " + error);
    }
}

ObjectRef Session::newFileItem(const std::string& path, const std::string& messageClass,
                               bool intermediate) {
    return std::make_shared<MailItem>(
        messageClass, std::make_shared<MessageFileSink>(path, writers_, fileNames_, intermediate),
        writers_);
}

Variant Session::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    switch (dispid) {
    case kLogOnPst:
        if (kind == CallKind::Method)
            return logOnPst(arg(args, 0).toString(), args.size() > 3 && !args[3].isMissing()
                                                         ? args[3].toString()
                                                         : std::string());
        break;
    case kLogOnOffice365:
        if (kind == CallKind::Method)
            throw ComponentError("Office 365 mailboxes cannot be reached by this build");
        break;
    case kLogOnProfile:
        if (kind == CallKind::Method)
            throw ComponentError("There are no Outlook profiles on this computer");
        break;
    case kStores:
        if (kind == CallKind::Get)
            return ObjectRef(std::make_shared<Stores>(logon_, writers_));
        break;
    case kLoggedOn:
        if (kind == CallKind::Get)
            return loggedOn();
        break;
    case kLogOff:
        if (kind == CallKind::Method)
            return logOff(), Variant{};
        break;
    case kNewFileItem:
        if (kind == CallKind::Method)
            return newFileItem(arg(args, 0).toString(),
                               args.size() > 1 && !args[1].isMissing() ? args[1].toString()
                                                                       : "IPM.Note",
                               args.size() > 3 && !args[3].isMissing() && args[3].toBool());
        break;
    default:
        break;
    }
    unknownMember("Session", dispid, kind);
}

Variant Profiles::invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) {
    if (kind == CallKind::Get && dispid == 1) // Count
        return std::int32_t{0};
    if (kind == CallKind::Get && dispid == 2) // Item(i): there is none
        return {};
    unknownMember("Profiles", dispid, kind);
}

ObjectRef createObject(const std::string& progId, FileWriters writers) {
    if (progId == "KestraneDll.RDOSession")
        return std::make_shared<Session>(writers);
    if (progId == "Profman.Profiles")
        return std::make_shared<Profiles>();
    return nullptr;
}

} // namespace parvelle::component
