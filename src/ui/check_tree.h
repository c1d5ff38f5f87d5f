#pragma once
// The folder tree's check-box rule: a node is checked exactly when it was checked itself or a
// node below it is checked. Unchecking a node unchecks its subtree; checking it checks its
// subtree and its ancestors.
#include "mailbox/folder_tree.h"

namespace parvelle::ui {

// Toggles the check box of `node` as a click on it does. Ignored (returns false) while the
// archive root has no children, that is before an archive is loaded.
bool toggleCheck(mailbox::FolderTree& tree, mailbox::TreeItem root, mailbox::TreeItem node);

// Sets the check state of one node, leaving the nodes below it as they are.
void setCheckedSingle(mailbox::FolderTree& tree, mailbox::TreeItem node, bool checked);

} // namespace parvelle::ui
