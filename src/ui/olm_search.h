#pragma once
// The search behind "Find OLM Mailbox": walks a folder (and, when asked, its subfolders) for
// files whose extension is .olm in any letter case, reporting each as a result row.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace parvelle::ui {

// The "Size" cell of a result row: bytes below 1 KB, else KB, MB or GB cut (not rounded) two
// digits after the point.
std::string sizeText(std::uint64_t bytes);

struct FoundFile {
    std::string path;
    std::string size;
    std::string created; // ctime layout without its newline; empty when unknown
    std::string accessed;
    std::string modified;
};

class OlmSearch {
public:
    // `stop` is polled before each entry; `pauseGate` (may be empty) is called before each entry
    // too and blocks while the dialog asks whether to stop.
    OlmSearch(const std::atomic<int>& stop, std::function<void()> pauseGate = {})
        : stop_(stop), pauseGate_(std::move(pauseGate)) {}

    // Searches `folder`; `found` receives each new file (a path already reported, compared
    // ignoring case, is skipped). Returns the number of files reported.
    int run(const std::string& folder, bool subfolders,
            const std::function<void(const FoundFile&)>& found);

    bool sawDuplicate() const { return alreadyInList_; }

private:
    void searchFolder(const std::string& folder, bool subfolders,
                      const std::function<void(const FoundFile&)>& found);
    bool stopped();

    const std::atomic<int>& stop_;
    std::function<void()> pauseGate_;
    std::vector<std::string> seenLower_;
    bool alreadyInList_ = false;
    int count_ = 0;
};

// The roots the look-in list offers: the home folder first, then the mounted volumes that hold
// real file systems.
std::vector<std::string> searchRoots(const std::string& homeFolder,
                                     const std::string& mountTable = "/proc/self/mounts");

} // namespace parvelle::ui
