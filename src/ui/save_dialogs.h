#pragma once
// What the save-option dialogs decide: which output, which destination, which credentials. Each
// class holds one dialog's state and rules; the widgets only show it and forward clicks.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mailbox/job_state.h"
#include "ui/message_sink.h"

namespace parvelle::ui {

using mailbox::JobState;
using mailbox::SaveFormat;

// The folder a new-PST or file-export save writes into: "<chosen>/Converted Data(<time>)", the
// time as "%d-%b-%Y %I.%M.%S" with English month names.
std::string destinationSubfolder(const std::string& chosenFolder, std::time_t now);

// "Save Mailbox Option": the format radio buttons in their order (".PST" first).
class FormatChoiceLogic {
public:
    static constexpr int kChoices = 7;
    explicit FormatChoiceLogic(JobState& state) : state_(state) {}
    void open();
    // OK with the radio button at `index` checked.
    void accept(int index);
    int checked() const { return checked_; }
    static SaveFormat formatAt(int index);
    static const char* labelAt(int index);

private:
    JobState& state_;
    int checked_ = 0;
};

// Folder choice shared by "Save File" and the file-export destination dialog.
class DestinationFolderLogic {
public:
    explicit DestinationFolderLogic(JobState& state) : state_(state) {}
    // "Browse": OK is disabled while the folder browser is open.
    void browseStarted() { okEnabled_ = false; }
    // The folder browser closed: with a folder, or cancelled (nothing).
    void browseFinished(const std::optional<std::string>& folder);
    // OK: the destination becomes the dated subfolder of the chosen folder, which is created.
    // Returns false when it cannot be created (the save reports the failure when it writes).
    bool accept(std::time_t now);

    bool okEnabled() const { return okEnabled_; }
    void setOkEnabled(bool enabled) { okEnabled_ = enabled; }
    const std::string& pathField() const { return pathField_; }
    void clearPathField() { pathField_.clear(); }

private:
    JobState& state_;
    bool okEnabled_ = false;
    std::string pathField_;
};

// "Save File": new PST (per mailbox or all in one) or append to an existing one.
class NewPstLogic {
public:
    NewPstLogic(JobState& state, int& pstSaveRequested)
        : state_(state), requested_(pstSaveRequested), folder_(state) {}
    void open();
    void chooseNewPst();
    // "Append data into existing profile/PST file.": closes this dialog as cancelled; the caller
    // shows "Select Profile and PST".
    void chooseAppend();
    void setPerMailbox(bool perMailbox) { perMailbox_ = perMailbox; }
    bool perMailbox() const { return perMailbox_; }
    bool accept(std::time_t now);
    void cancel() { requested_ = 0; }
    DestinationFolderLogic& folder() { return folder_; }

private:
    JobState& state_;
    int& requested_;
    DestinationFolderLogic folder_;
    bool perMailbox_ = true;
};

// The destination dialog of the MSG, EML, RTF, HTML and PDF exports.
class FileExportLogic {
public:
    explicit FileExportLogic(JobState& state) : state_(state), folder_(state) {}
    void open();
    // Returns the dialog result: 1.
    int accept(std::time_t now);
    DestinationFolderLogic& folder() { return folder_; }

private:
    JobState& state_;
    DestinationFolderLogic folder_;
};

enum class PstOpenResult { Accepted, PasswordRequired, Invalid };

struct ProfileStore {
    std::string profileName;
    std::string pstPath;
};

// The store session's services the PST dialogs need.
class StoreServices {
public:
    virtual ~StoreServices() = default;
    // The PST stores of every Outlook profile that can be opened for writing.
    virtual std::vector<ProfileStore> profileStores() = 0;
    // A test open of the PST with an optional password.
    virtual PstOpenResult testOpen(const std::string& path, const std::string& password) = 0;
};

// "Select Profile and PST".
class AppendLogic {
public:
    // Asks for the PST password; nothing when the password dialog was closed without OK.
    using PasswordPrompt = std::function<std::optional<std::string>()>;

    AppendLogic(JobState& state, int& pstSaveRequested, StoreServices& store, MessageSink& sink)
        : state_(state), requested_(pstSaveRequested), store_(store), sink_(sink) {}

    void open();
    void chooseProfiles();
    void choosePstFile();
    void browseStarted();
    void browseFinished(const std::optional<std::string>& file);
    void selectRow(int row) { selectedRow_ = row; }
    // OK: true when the dialog closes with the save request standing.
    bool accept(const PasswordPrompt& askPassword);
    void close() { rows_.clear(); }

    const std::vector<ProfileStore>& rows() const { return rows_; }
    bool profileMode() const { return profileMode_; }
    int selectedRow() const { return selectedRow_; }
    bool okEnabled() const { return okEnabled_; }
    bool listEnabled() const { return profileMode_; }
    bool browseEnabled() const { return !profileMode_; }
    const std::string& pathField() const { return pathField_; }

private:
    JobState& state_;
    int& requested_;
    StoreServices& store_;
    MessageSink& sink_;
    std::vector<ProfileStore> rows_;
    bool profileMode_ = false;
    int selectedRow_ = -1;
    bool okEnabled_ = false;
    bool chosenByBrowsing_ = false;
    bool passwordAccepted_ = false;
    std::string browsedPath_;
    std::string profilePstPath_;
    std::string pathField_;
};

// "Enter PST File Password": true when the dialog closes.
bool acceptPstPassword(JobState& state, const std::string& typed, MessageSink& sink);

// "Office 365 Details".
class Office365Logic {
public:
    Office365Logic(JobState& state, MessageSink& sink) : state_(state), sink_(sink) {}
    void open();
    // True when the dialog closes with result 1.
    bool accept(const std::string& mailId, const std::string& password);

private:
    JobState& state_;
    MessageSink& sink_;
};

// "Parvelle" save-complete dialog: the link to the destination folder.
bool saveCompleteLinkVisible(const JobState& state);
std::string saveCompleteLinkTarget(const JobState& state);

// The dialogs of the save chain, as the save command runs them.
class SaveDialogs {
public:
    virtual ~SaveDialogs() = default;
    // Each shows its dialog modally. The format dialog leaves JobState::saveFormat set; the file
    // export and Office 365 dialogs return 1 on OK, -1 otherwise; the PST chain sets
    // pstSaveRequested.
    virtual void formatDialog() = 0;
    virtual void newPstDialog(int& pstSaveRequested) = 0;
    virtual int fileExportDialog() = 0;
    virtual int office365Dialog() = 0;
};

// "Save Converted Mailbox" up to the start of the save job. Returns true when the save job is
// to be started.
bool runSaveCommand(JobState& state, bool rootChecked, SaveDialogs& dialogs, MessageSink& sink);

} // namespace parvelle::ui
