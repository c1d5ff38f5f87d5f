#include <gtest/gtest.h>

#include "ui/check_tree.h"

namespace parvelle::ui {
namespace {

using mailbox::FolderTree;
using mailbox::TreeItem;

// root -> a1 -> {f1, f2 -> {g}}, a2 -> {f3}
struct Tree {
    FolderTree t;
    TreeItem root = t.insert(0, "archive.olm", mailbox::kIconArchiveRoot);
    TreeItem a1 = t.insert(root, "a1", mailbox::kIconAccount);
    TreeItem f1 = t.insert(a1, "Inbox", mailbox::kIconInbox);
    TreeItem f2 = t.insert(a1, "Sent", mailbox::kIconFolder);
    TreeItem g = t.insert(f2, "Old", mailbox::kIconFolder);
    TreeItem a2 = t.insert(root, "a2", mailbox::kIconAccount);
    TreeItem f3 = t.insert(a2, "Inbox", mailbox::kIconInbox);

    std::string states() const {
        std::string s;
        for (TreeItem i : {root, a1, f1, f2, g, a2, f3})
            s += t.isChecked(i) ? '1' : '0';
        return s;
    }
    void click(TreeItem i) { EXPECT_TRUE(toggleCheck(t, root, i)); }
};

TEST(CheckTree, ClickSequences) {
    struct Case {
        const char* name;
        std::vector<int> clicks; // indexes into {root, a1, f1, f2, g, a2, f3}
        const char* expected;    // states of {root, a1, f1, f2, g, a2, f3}
    };
    const Case cases[] = {
        {"uncheck one of two folders", {2}, "1101111"},
        {"uncheck a subtree", {3}, "1110011"},
        {"uncheck every folder of an account", {2, 3}, "1000011"},
        {"uncheck every folder of every account", {2, 3, 6}, "0000000"},
        {"check one folder of an unchecked account", {1, 2}, "1110011"},
        {"check a deep folder from nothing", {0, 4}, "1101100"},
        {"uncheck the root", {0}, "0000000"},
        {"uncheck then check an account", {1, 1}, "1111111"},
    };
    for (const Case& c : cases) {
        Tree tree;
        const TreeItem items[] = {tree.root, tree.a1, tree.f1, tree.f2, tree.g, tree.a2, tree.f3};
        for (int i : c.clicks)
            tree.click(items[i]);
        EXPECT_EQ(tree.states(), c.expected) << c.name;
    }
}

TEST(CheckTree, ClicksBeforeAnArchiveIsLoadedAreIgnored) {
    FolderTree t;
    const TreeItem root = t.insert(0, "archive.olm", mailbox::kIconArchiveRoot);
    EXPECT_FALSE(toggleCheck(t, root, root));
    EXPECT_TRUE(t.isChecked(root));
}

TEST(CheckTree, SettingOneNodeLeavesItsSubtree) {
    Tree tree;
    tree.t.setCheckedRecursive(tree.g, false);
    setCheckedSingle(tree.t, tree.a1, false);
    EXPECT_EQ(tree.states(), "1011011");
    setCheckedSingle(tree.t, tree.a1, true);
    EXPECT_EQ(tree.states(), "1111011");
}

} // namespace
} // namespace parvelle::ui
