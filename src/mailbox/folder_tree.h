#pragma once
// The folder tree as a plain model: nodes with a text, an icon index, a check state and children
// in insertion order. Jobs insert nodes from their thread; front ends display and check them.
#include <mutex>
#include <string>
#include <vector>

#include "mailbox/records.h"

namespace parvelle::mailbox {

// Icon indexes of the folder tree's pictures.
enum FolderIcon : int {
    kIconInbox = 0,
    kIconOutbox = 1,
    kIconSentItems = 2,
    kIconDeletedItems = 3,
    kIconDrafts = 4,
    kIconCalendar = 5,
    kIconContacts = 6,
    kIconFolder = 7,
    kIconArchiveRoot = 8,
    kIconAccount = 9,
    kIconJunk = 10,
    kIconNotes = 11,
    kIconTasks = 12,
};

// The icon of a folder by its name (compared ignoring case).
int folderIconForName(const std::string& name);

struct TreeNode {
    std::string text;
    int icon = kIconFolder;
    TreeItem parent = 0;
    std::vector<TreeItem> children;
    bool checked = true;
    bool expanded = false;
};

class FolderTree {
public:
    // Appends a checked node at the end of parent's children (parent 0: a top-level node) and
    // expands it and its ancestors. Returns its handle.
    TreeItem insert(TreeItem parent, const std::string& text, int icon);
    void clear();

    // A copy of the node (an empty node for an unknown handle).
    TreeNode node(TreeItem item) const;
    std::vector<TreeItem> children(TreeItem item) const;
    std::vector<TreeItem> roots() const;
    bool contains(TreeItem item) const;
    std::size_t size() const;

    bool isChecked(TreeItem item) const;
    // Sets the check state of the node alone, leaving the nodes below it as they are.
    void setChecked(TreeItem item, bool checked);
    // Sets the check state of the node and of all nodes below it.
    void setCheckedRecursive(TreeItem item, bool checked);

private:
    const TreeNode* find(TreeItem item) const;

    mutable std::mutex mutex_;
    std::vector<TreeNode> nodes_; // handle = index + 1
    std::vector<TreeItem> roots_;
};

} // namespace parvelle::mailbox
