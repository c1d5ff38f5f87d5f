#pragma once
// The fixed texts of the desktop application: captions, commands and messages, in one place so
// that the dialogs, the tests and the user guide agree word for word.
namespace parvelle::ui::texts {

inline constexpr const char* kAppTitle = "Parvelle";

// Main frame.
inline constexpr const char* kScanSucceeded = "OLM mailbox converted successfully.";
inline constexpr const char* kProcessAborted = "Process aborted. User intervention.";
inline constexpr const char* kNoMailboxSelected = "No mailbox selected. Select a mailbox to save.";
inline constexpr const char* kExitQuestion = "Exit Application!\n\nDo you want to exit Parvelle?";
inline constexpr const char* kSaveUnavailable = "Saving is not available in this build.";
inline constexpr const char* kTotalItems = "Total Items:";

// Progress dialog and searches.
inline constexpr const char* kStopQuestion =
    "Stop current process!\n\nAre you sure you want to stop current process?";
inline constexpr const char* kScanningMailboxes = "Scanning OLM mailbox(es)...";
inline constexpr const char* kLoadingItems = "Please wait while loading items...";
inline constexpr const char* kLoadingItem = "Please wait while loading item...";
inline constexpr const char* kProcessingFolder = "Processing Folder:";
inline constexpr const char* kMailSubject = "Mail Subject:";
inline constexpr const char* kMailboxName = "Mailbox Name:";

// Mailbox selection and search.
inline constexpr const char* kSelectMailboxHint =
    "Click 'Select Mailbox' button to select the mailbox (OLM).\n\nClick 'Find Mailbox' button "
    "to find mailbox database (OLM), if you are not aware of its location.";
inline constexpr const char* kFileNotFound = "File not found";
inline constexpr const char* kFilesFoundFormat = "Total %d File(s) Found.";
inline constexpr const char* kSelectProfile = "Select a profile to continue.";
inline constexpr const char* kOlmFileType = "The OLM File (*.OLM)";

// Save option dialogs.
inline constexpr const char* kNoProfileFound = "No MS Outlook Profile Found.";
inline constexpr const char* kInvalidPst =
    "Invalid Outlook PST file selected.Select a valid Outlook PST to save mails.";
inline constexpr const char* kPasswordMismatch = "Password mismatch.Enter correct password.";
inline constexpr const char* kEnterPstPassword = "Enter Outlook PST file password to proceed.";
inline constexpr const char* kEnterOffice365Id = "Enter Office 365 Email ID.";
inline constexpr const char* kEnterPassword = "Enter Password.";
inline constexpr const char* kSaveComplete = "Selected mailbox saved successfully.";

// Log report.
inline constexpr const char* kFileCantBeOpened = "File can't be opened";
inline constexpr const char* kLogSaved = "Log Information Saved Successfully";

} // namespace parvelle::ui::texts
