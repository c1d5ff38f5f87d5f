#include "mailbox/folder_tree.h"

#include "platform/text.h"

namespace parvelle::mailbox {

int folderIconForName(const std::string& name) {
    struct Entry {
        const char* name;
        int icon;
    };
    static constexpr Entry kIcons[] = {
        {"inbox", kIconInbox},           {"outbox", kIconOutbox},
        {"sent items", kIconSentItems},  {"deleted items", kIconDeletedItems},
        {"drafts", kIconDrafts},         {"calendar", kIconCalendar},
        {"calendars", kIconCalendar},    {"contacts", kIconContacts},
        {"address book", kIconContacts}, {"junk e-mail", kIconJunk},
        {"notes", kIconNotes},           {"tasks", kIconTasks},
    };
    const std::string lower = text::asciiLower(name);
    for (const Entry& e : kIcons)
        if (lower == e.name)
            return e.icon;
    return kIconFolder;
}

TreeItem FolderTree::insert(TreeItem parent, const std::string& text, int icon) {
    std::lock_guard lock(mutex_);
    TreeNode node;
    node.text = text;
    node.icon = icon;
    node.expanded = true;
    if (parent != 0 && parent <= nodes_.size())
        node.parent = parent;
    nodes_.push_back(std::move(node));
    const auto item = static_cast<TreeItem>(nodes_.size());
    if (nodes_.back().parent != 0) {
        nodes_[nodes_.back().parent - 1].children.push_back(item);
        for (TreeItem p = nodes_.back().parent; p != 0; p = nodes_[p - 1].parent)
            nodes_[p - 1].expanded = true;
    } else {
        roots_.push_back(item);
    }
    return item;
}

void FolderTree::clear() {
    std::lock_guard lock(mutex_);
    nodes_.clear();
    roots_.clear();
}

const TreeNode* FolderTree::find(TreeItem item) const {
    return item != 0 && item <= nodes_.size() ? &nodes_[item - 1] : nullptr;
}

TreeNode FolderTree::node(TreeItem item) const {
    std::lock_guard lock(mutex_);
    const TreeNode* n = find(item);
    return n ? *n : TreeNode{};
}

std::vector<TreeItem> FolderTree::children(TreeItem item) const {
    std::lock_guard lock(mutex_);
    const TreeNode* n = find(item);
    return n ? n->children : std::vector<TreeItem>{};
}

std::vector<TreeItem> FolderTree::roots() const {
    std::lock_guard lock(mutex_);
    return roots_;
}

bool FolderTree::contains(TreeItem item) const {
    std::lock_guard lock(mutex_);
    return find(item) != nullptr;
}

std::size_t FolderTree::size() const {
    std::lock_guard lock(mutex_);
    return nodes_.size();
}

bool FolderTree::isChecked(TreeItem item) const {
    std::lock_guard lock(mutex_);
    const TreeNode* n = find(item);
    return n && n->checked;
}

void FolderTree::setChecked(TreeItem item, bool checked) {
    std::lock_guard lock(mutex_);
    if (find(item))
        nodes_[item - 1].checked = checked;
}

void FolderTree::setCheckedRecursive(TreeItem item, bool checked) {
    std::lock_guard lock(mutex_);
    if (!find(item))
        return;
    std::vector<TreeItem> pending{item};
    while (!pending.empty()) {
        const TreeItem current = pending.back();
        pending.pop_back();
        TreeNode& n = nodes_[current - 1];
        n.checked = checked;
        pending.insert(pending.end(), n.children.begin(), n.children.end());
    }
}

} // namespace parvelle::mailbox
