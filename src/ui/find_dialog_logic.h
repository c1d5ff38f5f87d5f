#pragma once
// The enable rules and counters of "Find OLM Mailbox" around one search.
#include <string>
#include <vector>

namespace parvelle::ui {

class FindDialogLogic {
public:
    struct Controls {
        bool lookIn = true, find = true, stop = false, findInFolder = true, clearList = false;
        bool subfolders = true, ok = false, cancel = true;
    };

    void open();
    // "Find" with the look-in list's selection; false (nothing happens) without one.
    bool findPressed(bool haveLookIn);
    // The worker thread began walking.
    void searchStarted();
    void fileFound() {
        ++rowCount_;
        ++foundCount_;
    }
    // The walk ended. Returns the message to show ("File not found" or the found count).
    std::string searchEnded(bool rowSelected);
    // "Stop" (or "Cancel" during a search) answered: true when the search is to stop.
    void stopPressed();
    void stopAnswered(bool yes);
    void clearList();
    void rowSelected(bool haveRows);
    void toggleSubfolders() { subfolders_ = !subfolders_; }

    // The look-in entry to select after "Find in Folder" added (or found) `folder`.
    static int addLookIn(std::vector<std::string>& entries, const std::string& folder);

    const Controls& controls() const { return c_; }
    bool idle() const { return idle_; }
    bool subfolders() const { return subfolders_; }
    int rowCount() const { return rowCount_; }
    const std::string& statusText() const { return status_; }

private:
    Controls c_;
    bool idle_ = true;
    bool subfolders_ = true;
    int rowCount_ = 0;
    int foundCount_ = 0;
    std::string status_;
};

std::string filesFoundText(int count);

} // namespace parvelle::ui
