#include "ui/check_tree.h"

#include <vector>

namespace parvelle::ui {

using mailbox::FolderTree;
using mailbox::TreeItem;

void setCheckedSingle(FolderTree& tree, TreeItem node, bool checked) {
    tree.setChecked(node, checked);
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
