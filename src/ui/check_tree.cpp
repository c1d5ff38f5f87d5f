#include "ui/check_tree.h"

#include <utility>
#include <vector>

namespace parvelle::ui {

using mailbox::FolderTree;
using mailbox::TreeItem;

void setCheckedSingle(FolderTree& tree, TreeItem node, bool checked) {
    if (tree.isChecked(node) == checked || !tree.contains(node))
        return;
    // The model only sets whole subtrees: set this one, then give every descendant its old
    // state back, parents before children.
    std::vector<std::pair<TreeItem, bool>> below;
    std::vector<TreeItem> pending = tree.children(node);
    while (!pending.empty()) {
        const TreeItem current = pending.front();
        pending.erase(pending.begin());
        below.emplace_back(current, tree.isChecked(current));
        const auto kids = tree.children(current);
        pending.insert(pending.begin(), kids.begin(), kids.end());
    }
    tree.setCheckedRecursive(node, checked);
    for (const auto& [item, state] : below)
        if (tree.isChecked(item) != state)
            tree.setCheckedRecursive(item, state);
}

namespace {

bool anyChildChecked(const FolderTree& tree, TreeItem item) {
    for (const TreeItem child : tree.children(item))
        if (tree.isChecked(child))
            return true;
    return false;
}

} // namespace

bool toggleCheck(FolderTree& tree, TreeItem root, TreeItem node) {
    if (tree.children(root).empty() || !tree.contains(node))
        return false;
    const bool checked = !tree.isChecked(node);
    setCheckedSingle(tree, node, checked);

    TreeItem walkFrom = node;
    const TreeItem parent = tree.node(node).parent;
    if (parent != 0) {
        if (!checked && !anyChildChecked(tree, parent)) {
            setCheckedSingle(tree, parent, false);
            walkFrom = parent;
        } else if (checked) {
            setCheckedSingle(tree, parent, true);
            walkFrom = parent;
        }
    }
    for (TreeItem a = tree.node(walkFrom).parent; a != 0; a = tree.node(a).parent)
        setCheckedSingle(tree, a, anyChildChecked(tree, a));

    if (!tree.children(node).empty())
        tree.setCheckedRecursive(node, checked);
    return true;
}

} // namespace parvelle::ui
