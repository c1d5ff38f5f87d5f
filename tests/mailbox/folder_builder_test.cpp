#include <gtest/gtest.h>

#include "mailbox/mailbox_converter.h"
#include "recording_frontend.h"

namespace parvelle::mailbox {
namespace {

struct Built {
    JobState state;
    testing::RecordingFrontEnd ui;
};

void build(Built& b, std::initializer_list<const char*> directories) {
    b.state.rootItem = b.state.folderTree.insert(0, "archive.olm", kIconArchiveRoot);
    for (const char* d : directories)
        b.state.directoryEntries.push_back({d});
    MailboxConverter converter(b.state, b.ui);
    converter.buildTree();
}

const Name_detailsNew* nodeByKey(const JobState& s, const std::string& key) {
    for (const auto& n : s.folderNodes)
        if (n.key == key)
            return &n;
    return nullptr;
}

TEST(FolderBuilder, AccountInboxAndSubfolderBecomeThreeNodes) {
    Built b;
    build(b, {"Accounts/acct/com.microsoft.__Messages/Inbox/",
              "Accounts/acct/com.microsoft.__Messages/Inbox/Sub/"});
    ASSERT_EQ(b.state.folderNodes.size(), 3u);
    const auto* acct = nodeByKey(b.state, "acct");
    const auto* inbox = nodeByKey(b.state, "acct/Inbox");
    const auto* sub = nodeByKey(b.state, "acct/Inbox/Sub");
    ASSERT_TRUE(acct && inbox && sub);
    EXPECT_EQ(acct->nodeKind, "Account");
    EXPECT_EQ(inbox->parentKey, "acct");
    EXPECT_EQ(sub->parentKey, "acct/Inbox");
    const auto& tree = b.state.folderTree;
    EXPECT_EQ(tree.node(acct->treeItem).parent, b.state.rootItem);
    EXPECT_EQ(tree.node(acct->treeItem).icon, kIconAccount);
    EXPECT_EQ(tree.node(inbox->treeItem).parent, acct->treeItem);
    EXPECT_EQ(tree.node(inbox->treeItem).icon, kIconInbox);
    EXPECT_EQ(tree.node(sub->treeItem).parent, inbox->treeItem);
    EXPECT_EQ(tree.node(sub->treeItem).icon, kIconFolder);
    EXPECT_TRUE(tree.isChecked(sub->treeItem));
    ASSERT_EQ(b.state.accounts.size(), 1u);
    EXPECT_EQ(b.state.accounts[0].name, "acct");
    EXPECT_EQ(b.state.defaultItem, inbox->treeItem);
    // Every node made is logged with its kind.
    const auto rows = b.state.log.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].itemType, "Account");
    EXPECT_EQ(rows[1].description, "Inbox");
    EXPECT_EQ(rows[2].status, "Converted");
}

TEST(FolderBuilder, FoldsContainerLevelsAndKeepsKeysOfItemDocuments) {
    Built b;
    build(b, {"Accounts/acct/Calendar/Cal/", "Local/com.microsoft.__Messages/Drafts/",
              "Accounts/acct/Contacts/",
              "Accounts/acct/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/",
              "Accounts/", "Local/"});
    EXPECT_TRUE(nodeByKey(b.state, "acct/Cal"));
    EXPECT_EQ(nodeByKey(b.state, "acct/Cal")->parentKey, "acct");
    EXPECT_TRUE(nodeByKey(b.state, "Local"));
    EXPECT_TRUE(nodeByKey(b.state, "Local/Drafts"));
    EXPECT_TRUE(nodeByKey(b.state, "acct/Contacts"));
    EXPECT_EQ(b.state.folderTree.node(nodeByKey(b.state, "acct/Contacts")->treeItem).icon,
              kIconContacts);
    for (const auto& n : b.state.folderNodes) {
        EXPECT_NE(n.name, "com.microsoft.__Attachments");
        EXPECT_NE(n.name, "com.microsoft.__Messages");
    }
    EXPECT_EQ(b.state.accounts.size(), 2u);
}

TEST(FolderBuilder, NamesDifferingInCaseMakeOneNodeAndTrailingSpacesLeaveTheName) {
    Built b;
    build(b,
          {"Accounts/a/com.microsoft.__Messages/Work/", "Accounts/a/com.microsoft.__Messages/WORK/",
           "Accounts/a/com.microsoft.__Messages/Space  /"});
    int work = 0;
    for (const auto& n : b.state.folderNodes)
        work += n.name == "Work" || n.name == "WORK";
    EXPECT_EQ(work, 1);
    const auto* spaced = nodeByKey(b.state, "a/Space  ");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->name, "Space");
}

TEST(FolderBuilder, LaterSentMailBecomesDefaultAndOrphanGoesUnderRoot) {
    Built b;
    build(b, {"Accounts/a/com.microsoft.__Messages/Inbox/",
              "Accounts/b/com.microsoft.__Messages/Sent Mail/"});
    EXPECT_EQ(b.state.defaultItem, nodeByKey(b.state, "b/Sent Mail")->treeItem);
    EXPECT_EQ(b.state.folderTree.roots().size(), 1u);
    EXPECT_EQ(b.state.folderTree.children(b.state.rootItem).size(), 2u);
}

TEST(FolderBuilder, StopEndsTheBuildKeepingWhatWasMade) {
    Built b;
    b.state.stopRequested = 1;
    build(b, {"Accounts/a/com.microsoft.__Messages/Inbox/"});
    EXPECT_TRUE(b.state.folderNodes.empty());
}

} // namespace
} // namespace parvelle::mailbox
