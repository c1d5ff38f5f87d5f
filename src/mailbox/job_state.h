#pragma once
// The state the jobs share with the front end for the whole run: the mailbox model a scan
// builds, the job-control and progress fields, the save settings and the item bookkeeping.
// The front end touches the model only while no job runs, except stopRequested, which it may
// set at any time from any thread (or a signal handler). It reads the progress fields while it
// handles a sent Progress notification, when the job is waiting for it.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mailbox/conversion_log.h"
#include "mailbox/folder_tree.h"
#include "mailbox/records.h"

namespace parvelle::component {
class DispatchObject;
}

namespace parvelle::mailbox {

// What a save did with one folder: its path as written (top folder first, joined by "/"), and
// how many of its items were written and how many could not be.
struct SavedFolder {
    std::string path;
    std::int64_t saved = 0;
    std::int64_t failed = 0;
};

struct JobState {
    // Mailbox model, rebuilt by every scan.
    std::vector<basic_info> directoryEntries;
    std::vector<Name_detailsNew> folderNodes;
    std::vector<stAccountinfo> accounts;
    std::vector<std::unique_ptr<Name_details>> folderItems;
    // Attachment member key -> location; the first entry for a key stays.
    std::map<std::string, AttachmentDetails> archiveMembers;
    // Full member path -> location, for every file member; attachments are looked up here first.
    std::unordered_map<std::string, AttachmentDetails> memberPaths;
    std::vector<TreeItem> saveFolders;
    std::vector<std::unique_ptr<RecoveredOlmHeaderData>> listedRecords;
    FolderTree folderTree;

    // Job control and progress.
    std::atomic<std::int32_t> stopRequested{0};
    std::atomic<bool> jobRunning{false};
    std::atomic<ProgressMode> progressMode{ProgressMode::Idle};
    std::string currentFolderName;
    std::string currentMailboxName;
    std::atomic<std::int32_t> itemCount{0};
    std::string jobTimeText;
    std::atomic<std::int32_t> saveEnabled{0};
    std::atomic<std::int32_t> logAvailable{0};
    // Progress of the archive walk in bytes, for progress bars.
    std::atomic<std::int64_t> bytesDone{0};
    std::atomic<std::int64_t> bytesTotal{0};
    // Items a save wrote, and items it could not write (each logged with its reason).
    std::atomic<std::int64_t> itemsSaved{0};
    std::atomic<std::int64_t> itemsFailed{0};

    // Save settings.
    SaveFormat saveFormat = SaveFormat::None;
    std::string destinationPath;
    std::int32_t newPst = 1;
    std::int32_t pstPerMailbox = 1;
    std::string pstPassword;
    std::string office365MailId;
    std::string office365Password;
    std::string fileExportRoot;
    std::string fileExportFolder;
    // The store component's session, created on the front end's thread before a save.
    std::shared_ptr<component::DispatchObject> storeSession;
    // Filled by the save: the PST files it logged on to, and what it did per folder.
    std::vector<std::string> savedStores;
    std::vector<SavedFolder> saveReport;

    // Item and file bookkeeping.
    std::string archivePath;
    std::string tempFolder;
    RecoveredOlmHeaderData currentItem;
    std::string summaryFrom, summaryTo, summaryDate, summarySubject, summaryCc;
    std::int32_t summaryHasAttachments = 0;
    std::vector<AttachmentInfo> summaryAttachments;
    std::vector<AttachmentInfo> pendingAttachments;
    std::vector<AttachmentBasicInfo> extractedAttachments;
    std::vector<std::string> extractedPaths;
    std::string attachmentsFolder;
    std::string currentSubject;
    std::int64_t previewOffset = 0;
    std::int64_t previewSize = 0;
    std::string previewText, previewHasHtml, previewHtml;

    // Folder-tree bookkeeping.
    TreeItem rootItem = 0;
    std::int32_t parentFound = 0;
    TreeItem parentItem = 0;
    TreeItem defaultItem = 0;
    TreeItem accountItem = 0;
    TreeItem listFolderItem = 0;

    // The conversion log, kept across jobs; a new scan starts it empty.
    ConversionLog log;

    // Empties the mailbox model before a new archive is opened.
    void clearMailbox() {
        directoryEntries.clear();
        folderNodes.clear();
        accounts.clear();
        folderItems.clear();
        archiveMembers.clear();
        memberPaths.clear();
        saveFolders.clear();
        listedRecords.clear();
        folderTree.clear();
        rootItem = parentItem = defaultItem = accountItem = listFolderItem = 0;
        parentFound = 0;
    }
};

} // namespace parvelle::mailbox
