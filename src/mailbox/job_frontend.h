#pragma once
// How a running job reaches whoever shows it (the desktop window, the command line, a test).
// "Sent" notifications block the job until the front end has handled them; "posted" ones are
// queued and the job goes on.
#include <cstdint>
#include <string>

#include "mailbox/records.h"

namespace parvelle::mailbox {

enum class Notification : std::int32_t {
    ItemListed = 0x8000 + 1,   // sent; wParam: running index, lParam: RecoveredOlmHeaderData*
    PreviewReady = 0x8000 + 4, // sent; lParam: the previewed item's RecoveredOlmHeaderData*
    Progress = 0x8000 + 5,     // sent to the progress window; read JobState
    Ended = 0x8000 + 6,        // posted; wParam 1: scan finished, 0: the job was stopped
    SaveDone = 0x8000 + 7,     // posted; end of a save that was not stopped
    ListDone = 0x400 + 505,    // posted; end of a list job
    ListFolder = 0x400 + 506,  // sent to the progress window when a listing starts on a folder
    ItemCount = 0x400 + 10,    // posted; wParam 1; the receiver shows itemCount
};

enum class MessageIcon : std::int32_t {
    None = 0,
    Information = 1,
    Question = 2,
    Warning = 3,
    Error = 4
};

class JobFrontEnd {
public:
    virtual ~JobFrontEnd() = default;

    // Blocking: returns once the front end has handled the notification.
    virtual void send(Notification n, std::int64_t wParam, const void* lParam) {}
    // Queued: the front end handles it later on its own thread.
    virtual void post(Notification n, std::int64_t wParam, std::int64_t lParam) {}
    // A folder node was inserted into JobState::folderTree.
    virtual void treeNodeInserted(TreeItem item) {}
    // The job collapses and expands the archive root at the end of a scan.
    virtual void expandTree(TreeItem root) {}
    // Closes the progress dialog and any message box open over the job.
    virtual void closeJobWindows() {}
    // The item list deletes all its rows (start of a listing).
    virtual void clearItemList() {}
    // Shows a message; returns the button pressed (1 = OK/Yes).
    virtual int showMessage(const std::string& text, MessageIcon icon) { return 1; }
};

} // namespace parvelle::mailbox
