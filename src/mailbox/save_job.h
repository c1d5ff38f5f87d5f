#pragma once
// The save job: writes the checked folders of the scanned mailbox into PST stores (new files, an
// existing file, an online mailbox) or into a tree of message files. Each item is read again
// from the archive, handed to the reader of its kind and written through the store session;
// nothing is kept converted in memory.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "items/item_conversion.h"
#include "mailbox/archive_reader.h"
#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"
#include "mailbox/mailbox_converter.h"
#include "store/component/dispatch.h"
#include "store/mapi/message.h"

namespace parvelle::mailbox {

// Messages the save shows.
inline constexpr const char* kPstLoginFailedMessage = "Login failed while creating .pst file";
inline constexpr const char* kOffice365LoginFailedMessage =
    "Can't continue!\n Login to Office 365 failed.";

class SaveJob {
public:
    SaveJob(MailboxConverter& converter, JobState& state, JobFrontEnd& ui);
    ~SaveJob();

    // The job body: logs on, saves every checked folder, logs off, and ends with SaveDone (or
    // Ended 0 when stopped). A failed logon shows its message and ends the job at once.
    void run();

    // saveFolders = every node below `top`, parents before children.
    void collectSaveFolders(TreeItem top);
    // The tree texts from `item` upwards (innermost first), up to the archive root, or up to the
    // account when each account has its own PST file.
    std::vector<std::string> collectFolderPath(TreeItem item) const;

private:
    bool saveToPst();
    bool saveToOffice365();
    void saveToFiles();
    void saveFolders();
    void saveFolderItems(const Name_details& details, TreeItem folder,
                         const std::vector<std::string>& folderPath);
    component::ObjectRef destinationFor(const std::vector<std::string>& folderPath,
                                        TreeItem folder);
    void createExportFolders(const std::vector<std::string>& folderPath);
    void saveItem(const Name_details& details, const RecoveredOlmHeaderData& item,
                  const component::ObjectRef& destination);
    void dispatchDocument(std::string_view bytes, const component::ObjectRef& destination,
                          const std::string& kindHint);
    // Shows the account in the progress window; true when it is checked for saving.
    bool beginAccount(const stAccountinfo& account);
    void loginFailed(const char* message);
    // An attachment's bytes read from the archive when the item asks for them.
    std::optional<mapi::AttachmentContent> openMember(const ItemSource& source);
    bool isStoreFormat() const;
    bool stopRequested() const { return state_.stopRequested.load() != 0; }
    void progress() { ui_.send(Notification::Progress, 0, nullptr); }

    MailboxConverter& converter_;
    JobState& state_;
    JobFrontEnd& ui_;
    ArchiveReader archive_;
    items::ItemConversion conv_;
    component::ObjectRef jobSession_;
    component::ObjectRef storeRootFolder_;
    // The item summaries of each folder node, by tree item, in model order.
    std::multimap<TreeItem, const Name_details*> itemsByFolder_;
    // The container class each folder's content calls for (from the kind of its items).
    std::map<TreeItem, std::string> contentClass_;
    std::string ownTempFolder_;
};

// The PST file an account's folders go into, for a new PST: "<D>/Outlook.pst" for one PST for
// all accounts, "<D>/<account>.pst" per account (the name made safe as a file name).
std::string NewPstPath(const std::string& directory, const std::string& accountName,
                       bool perMailbox);

} // namespace parvelle::mailbox
