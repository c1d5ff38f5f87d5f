#include <algorithm>

#include "mailbox/mailbox_converter.h"
#include "mailbox/member_paths.h"
#include "platform/text.h"

namespace parvelle::mailbox {
namespace {

std::string trimTrailing(std::string s, char c) {
    while (!s.empty() && s.back() == c)
        s.pop_back();
    return s;
}

// Folder names are unique under one parent, compared without letter case.
std::string nameIndexKey(const std::string& name, const std::string& parentKey) {
    return text::asciiLower(name) + '\0' + text::asciiLower(parentKey);
}

std::size_t countSlashes(std::string_view s) {
    return std::count(s.begin(), s.end(), '/');
}

} // namespace

void MailboxConverter::buildTree() {
    // Indexes of the nodes made so far, so that each new node costs a lookup, not a pass over all.
    nodeNames_.clear();
    nodeKeys_.clear();
    for (const Name_detailsNew& node : state_.folderNodes) {
        nodeNames_.insert(nameIndexKey(node.name, node.parentKey));
        nodeKeys_[node.key] = node.treeItem;
    }
    for (std::size_t i = 0; i < state_.directoryEntries.size() && !stopRequested(); ++i) {
        state_.parentFound = 0;
        const std::string s = state_.directoryEntries[i].path;
        if (s.empty())
            continue;
        const std::size_t g = countSlashes(s);
        if (g <= 1)
            continue;
        ancestorPaths_.clear();
        std::string current = trimTrailing(s, '/');
        ancestorPaths_.push_back(current);
        for (std::size_t k = 0; k < g && !stopRequested(); ++k) {
            current = std::string(textBeforeLast(current, "/"));
            if (current.find('/') != std::string::npos)
                ancestorPaths_.push_back(current);
        }
        for (auto it = ancestorPaths_.rbegin(); it != ancestorPaths_.rend() && !stopRequested();
             ++it) {
            retryFlag_ = 0;
            makeNode(*it);
        }
        ancestorPaths_.clear();
    }
}

void MailboxConverter::makeNode(std::string path) {
    path = trimTrailing(std::move(path), '/');
    const std::size_t n = countSlashes(path);
    std::string name, parentKey, key, kind;
    if (n < 2 && retryFlag_ != 1) {
        retryFlag_ = 1;
        const std::string_view first = textBefore(path, "/");
        const std::string_view rest = textAfter(path, "/");
        if (first == "Accounts") {
            name = key = std::string(rest);
            kind = "Account";
        } else if (first == "Local") {
            name = key = "Local";
            kind = "Account";
        }
    } else {
        retryFlag_ = 0;
        const std::string_view top = textBefore(path, "/");
        const std::string_view a = textAfter(path, "/");
        const std::string_view t = textAfter(a, "/");
        auto derive = [&](const std::string& q) {
            parentKey = std::string(textBeforeLast(q, "/"));
            const std::string last(textAfterLast(q, "/"));
            name = trimTrailing(last, ' ');
            // A name of spaces only would make no folder, and the items in it would be lost.
            if (name.empty())
                name = last;
            key = q;
            kind = "Folder";
        };
        if (top == "Local") {
            derive("Local/" + std::string(t));
        } else {
            const std::string_view account = textBefore(a, "/");
            const std::string_view u = textAfter(a, "/");
            const std::string_view last = textAfterLast(path, "/");
            if (u != kMessagesFolder && last != kAttachmentsFolder)
                derive(std::string(account) + "/" + std::string(textAfter(u, "/")));
        }
    }

    const bool derived = !name.empty();
    const bool duplicate = derived && nodeNames_.count(nameIndexKey(name, parentKey)) != 0;
    if (derived && !duplicate && !text::equalsIgnoreAsciiCase(name, kAttachmentsFolder) &&
        !text::equalsIgnoreAsciiCase(name, kMessagesFolder)) {
        state_.parentFound = 0;
        if (auto parent = nodeKeys_.find(parentKey); parent != nodeKeys_.end()) {
            state_.parentFound = 1;
            state_.parentItem = parent->second;
        }
        state_.log.AppendLogRow(kind, name, "Converted");
        const TreeItem item =
            state_.parentFound == 1
                ? state_.folderTree.insert(state_.parentItem, name, folderIconForName(name))
                : state_.folderTree.insert(state_.rootItem, name, kIconAccount);
        ui_.treeNodeInserted(item);
        if (kind == "Account")
            state_.accounts.push_back({name, item});
        if (text::equalsIgnoreAsciiCase(name, "Inbox") ||
            text::equalsIgnoreAsciiCase(name, "Sent Mail"))
            state_.defaultItem = item;
        nodeNames_.insert(nameIndexKey(name, parentKey));
        nodeKeys_[key] = item; // the last node with a key is the one children attach to
        state_.folderNodes.push_back({item, name, parentKey, key, kind});
    }
    if (n == 1 && retryFlag_ == 1)
        makeNode(path);
}

} // namespace parvelle::mailbox
