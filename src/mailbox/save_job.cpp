#include "mailbox/save_job.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "items/file_export.h"
#include "items/file_names.h"
#include "items/item_readers.h"
#include "markup/markup_document.h"
#include "platform/datetime.h"
#include "store/component/store_session.h"

namespace parvelle::mailbox {
namespace fs = std::filesystem;
using component::ComponentError;
using component::ObjectRef;

namespace {

// The container class a folder's items call for; empty when they do not decide it (mails, or
// no items at all): then the folder's name decides.
std::string containerClassForKind(const std::string& kind) {
    if (kind == "appointment")
        return "IPF.Appointment";
    if (kind == "contact" || kind == "group")
        return "IPF.Contact";
    if (kind == "task")
        return "IPF.Task";
    if (kind == "note")
        return "IPF.StickyNote";
    return {};
}

std::string joinPath(const std::vector<std::string>& innermostFirst) {
    std::string out;
    for (auto it = innermostFirst.rbegin(); it != innermostFirst.rend(); ++it)
        out += (out.empty() ? "" : "/") + *it;
    return out;
}

// A private folder for the attachments of the items being saved, removed when the job ends.
std::string makePrivateTempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/parvelle-save-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    return pattern;
}

} // namespace

std::string NewPstPath(const std::string& directory, const std::string& accountName,
                       bool perMailbox) {
    // A damaged archive's account name may hold control characters, NUL above all: the file
    // would then be created under another name, or not at all, and the whole save stop.
    std::string name = perMailbox ? items::SystemFileName(accountName) : "Outlook";
    if (name.empty() || name == "." || name == "..")
        name = "Account";
    return (fs::path(directory) / (name + ".pst")).string();
}

SaveJob::SaveJob(MailboxConverter& converter, JobState& state, JobFrontEnd& ui)
    : converter_(converter), state_(state), ui_(ui),
      conv_(state, ui, [this](const ItemSource& source) { return archive_.read(source); }) {
    conv_.openArchiveMember = [this](const ItemSource& source) { return openMember(source); };
    // Export files are encoded and written while the next mails are read.
    conv_.enableBackgroundWrites();
}

std::optional<mapi::AttachmentContent> SaveJob::openMember(const ItemSource& source) {
    const std::shared_ptr<platform::ReadOnlyFile>& file = archive_.reader();
    if (file && source.method == 0 &&
        locatedInside(source, static_cast<std::int64_t>(archive_.file().size()))) {
        // Stored data is read from the archive when the store writes it, on its writing thread
        // and straight into its blocks; the content keeps the file open for as long as the
        // store may need it.
        const auto start = static_cast<std::uint64_t>(source.offset);
        const auto size = static_cast<std::uint64_t>(source.size);
        mapi::AttachmentContent content;
        content.size = size;
        content.readableLater = true;
        content.read = [file, start, size](std::uint64_t offset, std::span<std::uint8_t> out) {
            if (offset > size || out.size() > size - offset)
                return false;
            return file->readAt(start + offset, out);
        };
        return content;
    }
    auto inflated = archive_.read(source);
    if (!inflated)
        return std::nullopt;
    return mapi::AttachmentContent::fromBytes(mapi::Binary(inflated->begin(), inflated->end()));
}

SaveJob::~SaveJob() {
    if (!ownTempFolder_.empty()) {
        std::error_code ec;
        fs::remove_all(ownTempFolder_, ec);
        state_.tempFolder.clear();
    }
}

bool SaveJob::isStoreFormat() const {
    return state_.saveFormat == SaveFormat::Pst || state_.saveFormat == SaveFormat::Office365;
}

void SaveJob::run() {
    state_.stopRequested = 0;
    state_.itemsSaved = 0;
    state_.itemsFailed = 0;
    state_.savedStores.clear();
    state_.saveReport.clear();
    state_.jobTimeText = platform::clockTextNow();
    state_.log.AppendLogRow("Saving Start Time:", state_.jobTimeText, "");

    if (state_.tempFolder.empty()) {
        ownTempFolder_ = makePrivateTempFolder();
        state_.tempFolder = ownTempFolder_;
    }
    // One read-only handle on the archive serves every item and attachment of the job.
    archive_.open(state_.archivePath);
    itemsByFolder_.clear();
    contentClass_.clear();
    for (const auto& details : state_.folderItems) {
        itemsByFolder_.emplace(details->treeItem, details.get());
        for (const RecoveredOlmHeaderData& item : details->items) {
            const std::string cls = containerClassForKind(item.kind);
            if (!cls.empty()) {
                contentClass_.emplace(details->treeItem, cls);
                break;
            }
        }
    }
    if (!state_.storeSession) {
        bool available = true;
        component::SessionHolder holder;
        component::CreateStoreSession(
            holder, available,
            [this](const std::string& text) { ui_.showMessage(text, MessageIcon::Error); },
            items::MessageFileWriters());
        state_.storeSession = holder.session;
    }

    switch (state_.saveFormat) {
    case SaveFormat::Pst:
        if (!saveToPst())
            return;
        break;
    case SaveFormat::Office365:
        if (!saveToOffice365())
            return;
        break;
    case SaveFormat::Msg:
    case SaveFormat::Eml:
    case SaveFormat::Rtf:
    case SaveFormat::Html:
    case SaveFormat::Pdf:
        saveToFiles();
        break;
    default:
        break;
    }

    ui_.closeJobWindows();
    if (!stopRequested()) {
        ui_.post(Notification::SaveDone, 0, 0);
    } else {
        ui_.post(Notification::Ended, 0, 0);
        state_.stopRequested = 0;
    }
    state_.jobTimeText = platform::clockTextNow();
    state_.log.AppendLogRow("Saving Completed Time:", state_.jobTimeText, "");
}

bool SaveJob::beginAccount(const stAccountinfo& account) {
    state_.progressMode = ProgressMode::Saving;
    state_.currentMailboxName = account.name;
    progress();
    return state_.folderTree.isChecked(account.treeItem);
}

void SaveJob::loginFailed(const char* message) {
    jobSession_.reset();
    ui_.showMessage(message, MessageIcon::Error);
    ui_.closeJobWindows();
    state_.saveEnabled = 1;
}

bool SaveJob::saveToPst() {
    const std::size_t count = state_.accounts.size();
    for (std::size_t i = 0; i < count; ++i) {
        const stAccountinfo account = state_.accounts[i];
        if (!beginAccount(account))
            continue;
        std::string path = state_.destinationPath;
        if (state_.newPst == 1)
            path = NewPstPath(state_.destinationPath, account.name, state_.pstPerMailbox != 0);
        jobSession_ = state_.storeSession;
        try {
            storeRootFolder_ = component::OpenPstStore(jobSession_, path, state_.pstPassword);
            if (!storeRootFolder_)
                throw ComponentError("The store has no top folder");
        } catch (const std::exception&) {
            loginFailed(kPstLoginFailedMessage);
            return false;
        }
        state_.savedStores.push_back(path);
        state_.accountItem = account.treeItem;
        const bool oneStore = state_.newPst == 0 || state_.pstPerMailbox == 0;
        collectSaveFolders(oneStore ? state_.rootItem : account.treeItem);
        saveFolders();
        component::EndStoreLogon(jobSession_);
        if (oneStore)
            break;
    }
    return true;
}

bool SaveJob::saveToOffice365() {
    jobSession_ = state_.storeSession;
    try {
        storeRootFolder_ = component::LogOnOffice365(jobSession_, state_.office365MailId,
                                                     state_.office365Password);
        if (!storeRootFolder_)
            throw ComponentError("The mailbox has no top folder");
    } catch (const std::exception&) {
        ui_.showMessage(kOffice365LoginFailedMessage, MessageIcon::Error);
        component::EndStoreLogon(jobSession_);
        ui_.closeJobWindows();
        state_.saveEnabled = 1;
        return false;
    }
    const std::size_t count = state_.accounts.size();
    for (std::size_t i = 0; i < count; ++i) {
        const stAccountinfo account = state_.accounts[i];
        if (!beginAccount(account))
            continue;
        state_.accountItem = account.treeItem;
        collectSaveFolders(state_.rootItem);
        saveFolders();
        break;
    }
    component::EndStoreLogon(jobSession_);
    storeRootFolder_.reset();
    return true;
}

void SaveJob::saveToFiles() {
    // Exports always mirror the account level: a PST save made before must not leave an account
    // marked as the top that folder paths stop at.
    state_.accountItem = 0;
    const std::size_t count = state_.accounts.size();
    for (std::size_t i = 0; i < count; ++i) {
        const stAccountinfo account = state_.accounts[i];
        if (!beginAccount(account))
            continue;
        collectSaveFolders(account.treeItem);
        state_.fileExportRoot = state_.destinationPath;
        saveFolders();
    }
}

void SaveJob::collectSaveFolders(TreeItem top) {
    state_.saveFolders.clear();
    std::vector<TreeItem> pending;
    const auto pushChildren = [&](TreeItem parent) {
        const std::vector<TreeItem> children = state_.folderTree.children(parent);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    };
    pushChildren(top);
    while (!pending.empty() && !stopRequested()) {
        const TreeItem item = pending.back();
        pending.pop_back();
        state_.saveFolders.push_back(item);
        pushChildren(item);
    }
}

std::vector<std::string> SaveJob::collectFolderPath(TreeItem item) const {
    std::vector<std::string> path;
    const bool accountIsTop = state_.pstPerMailbox == 1 && state_.newPst == 1;
    for (TreeItem node = item; node != 0 && !stopRequested() && node != state_.rootItem &&
                               !(accountIsTop && node == state_.accountItem);) {
        const TreeNode n = state_.folderTree.node(node);
        path.push_back(n.text);
        node = n.parent;
    }
    return path;
}

void SaveJob::createExportFolders(const std::vector<std::string>& folderPath) {
    conv_.jobSession = state_.storeSession;
    jobSession_ = state_.storeSession;
    state_.fileExportFolder = state_.fileExportRoot;
    for (auto it = folderPath.rbegin(); it != folderPath.rend() && !stopRequested(); ++it) {
        // Dots are replaced too, so no component can be "." or "..".
        const std::string name = items::SanitizeFileName(*it, true);
        if (name.empty())
            continue;
        state_.fileExportFolder = (fs::path(state_.fileExportFolder) / name).string();
        std::error_code ec;
        fs::create_directory(state_.fileExportFolder, ec);
    }
}

ObjectRef SaveJob::destinationFor(const std::vector<std::string>& folderPath, TreeItem folder) {
    const auto content = contentClass_.find(folder);
    const std::string leafClass = content == contentClass_.end() ? std::string() : content->second;
    try {
        return component::EnsureStoreFolder(
            storeRootFolder_, folderPath, [this] { return stopRequested(); },
            [&leafClass](const std::string& name, bool innermost) {
                if (innermost && !leafClass.empty())
                    return leafClass;
                return component::containerClassForFolderName(name);
            });
    } catch (const std::exception&) {
        return nullptr;
    }
}

void SaveJob::saveFolders() {
    state_.progressMode = ProgressMode::Saving;
    if (!isStoreFormat()) {
        std::error_code ec;
        fs::create_directories(state_.fileExportRoot, ec);
    }
    for (const TreeItem folder : state_.saveFolders) {
        if (stopRequested())
            break;
        const std::vector<std::string> folderPath = collectFolderPath(folder);
        const auto [first, last] = itemsByFolder_.equal_range(folder);
        for (auto it = first; it != last && !stopRequested(); ++it)
            saveFolderItems(*it->second, folder, folderPath);
        if (first == last && state_.folderTree.isChecked(folder)) {
            // A folder without items still gets its folder in the output.
            const std::string text = state_.folderTree.node(folder).text;
            for (const Name_detailsNew& node : state_.folderNodes)
                if (node.name == text)
                    state_.log.AppendLogRow(node.nodeKind, text, "Converted");
            if (isStoreFormat()) {
                destinationFor(folderPath, folder);
                progress();
            } else {
                createExportFolders(folderPath);
            }
            state_.saveReport.push_back({joinPath(folderPath), 0, 0});
        }
    }
    storeRootFolder_.reset();
}

void SaveJob::saveFolderItems(const Name_details& details, TreeItem folder,
                              const std::vector<std::string>& folderPath) {
    progress();
    if (!state_.folderTree.isChecked(folder))
        return;
    const std::size_t folderRow =
        state_.log.AppendLogRow(details.nodeKind, details.folderName, "Converted");
    state_.currentFolderName = details.folderName;
    const std::int64_t savedBefore = state_.itemsSaved.load();
    const std::int64_t failedBefore = state_.itemsFailed.load();

    ObjectRef destination;
    if (isStoreFormat()) {
        destination = destinationFor(folderPath, folder);
        if (!destination) {
            // Its items cannot be written: the log and the counts say so instead of "Converted".
            state_.log.setStatus(folderRow, "Failed: the folder could not be created");
            state_.itemsFailed += static_cast<std::int64_t>(details.items.size());
            state_.saveReport.push_back(
                {joinPath(folderPath), 0, static_cast<std::int64_t>(details.items.size())});
            return;
        }
        state_.itemCount = static_cast<std::int32_t>(details.items.size());
        progress();
    } else {
        createExportFolders(folderPath);
    }
    for (const RecoveredOlmHeaderData& item : details.items) {
        if (stopRequested())
            break;
        saveItem(details, item, destination);
    }
    // The folder's counts include the outcome of its last files.
    conv_.finishBackgroundWrites(true);
    state_.saveReport.push_back({joinPath(folderPath), state_.itemsSaved.load() - savedBefore,
                                 state_.itemsFailed.load() - failedBefore});
}

void SaveJob::saveItem(const Name_details& details, const RecoveredOlmHeaderData& item,
                       const ObjectRef& destination) {
    state_.currentItem = item;
    conv_.beginItem();
    const std::optional<std::string> bytes = archive_.read(item);
    if (!bytes) {
        conv_.markItemFailed(item.kind.empty() ? details.nodeKind : item.kind,
                             "the item could not be read from the archive");
        return;
    }
    dispatchDocument(*bytes, destination, item.kind);
}

void SaveJob::dispatchDocument(std::string_view bytes, const ObjectRef& destination,
                               const std::string& kindHint) {
    const std::string itemType = kindHint.empty() ? std::string("Item") : kindHint;
    try {
        markup::MarkupDocument doc;
        doc.LoadBytes(bytes);
        // Which top-level element the document has, in the readers' order of preference.
        static constexpr const char* kElements[] = {"emails",      "note",    "task",
                                                    "appointment", "contact", "group"};
        const char* found = nullptr;
        for (const char* name : kElements) {
            doc.ResetPosition();
            if (doc.FindSibling(name)) {
                found = name;
                break;
            }
        }
        state_.summaryDate.clear();
        state_.summarySubject.clear();
        state_.summaryFrom.clear();
        state_.summaryTo.clear();
        if (found == nullptr)
            return;
        const std::string element = found;
        if (!isStoreFormat() && element != "emails")
            return;
        items::ItemHolder holder;
        const auto read = element == "emails"        ? &items::ReadEmails
                          : element == "note"        ? &items::ReadNote
                          : element == "task"        ? &items::ReadTask
                          : element == "appointment" ? &items::ReadEvent
                          : element == "contact"     ? &items::ReadContact
                                                     : &items::ReadGroup;
        read(doc, destination, holder, conv_);
        ++state_.itemsSaved;
    } catch (const std::exception& e) {
        conv_.markItemFailed(itemType, e.what());
    }
}

} // namespace parvelle::mailbox
