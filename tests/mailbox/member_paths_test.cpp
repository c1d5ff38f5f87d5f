#include <gtest/gtest.h>

#include "mailbox/member_paths.h"

namespace parvelle::mailbox {
namespace {

struct PathCase {
    const char* name;
    const char* folderKey;
    const char* entryKind;
    const char* memberKey;
};

TEST(MemberPaths, DerivesFolderKeyKindAndAttachmentKey) {
    const PathCase cases[] = {
        {"Accounts/acct/com.microsoft.__Messages/Inbox/message_00001.xml", "acct/Inbox", "message",
         ""},
        {"Accounts/acct/com.microsoft.__Messages/Inbox/Sub/message_00001.xml", "acct/Inbox/Sub",
         "message", ""},
        {"Accounts/acct/Contacts/Contacts.xml", "acct/Contacts", "Contacts.xml", ""},
        {"Local/com.microsoft.__Messages/Drafts/message_00002.xml", "Local/Drafts", "message", ""},
        {"Local/Address Book/Contacts.xml", "Local/Address Book", "Contacts.xml", ""},
        // Attachment members: "<", part1, "@", any text keeps part1 and the name's last four
        // characters; without "@" the file name loses its last six characters.
        {"Accounts/acct/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/<part1@host.jpg",
         "acct/Inbox", "com.microsoft.__Attachments", "part1.jpg"},
        {"Accounts/acct/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/photo_1234.jpeg",
         "acct/Inbox", "com.microsoft.__Attachments", "photo_123jpeg"},
        // Attachment members keep the folder rule of accounts even under Local; only their member
        // key is used to find them.
        {"Local/com.microsoft.__Messages/Sent Items/com.microsoft.__Attachments/6A72@xp.local_0001",
         "com.microsoft.__Messages/Sent Items", "com.microsoft.__Attachments", "6A720001"},
        // Only "<" and "@": the key would be empty.
        {"Accounts/a/com.microsoft.__Messages/I/com.microsoft.__Attachments/<<@x_0000", "a/I",
         "com.microsoft.__Attachments", ""},
        {"Categories.xml", "/", "Categories.xml", ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(memberFolderKey(c.name), c.folderKey);
        EXPECT_EQ(memberEntryKind(c.name), c.entryKind);
        EXPECT_EQ(attachmentMemberKey(c.name), c.memberKey);
    }
}

TEST(MemberPaths, CountsCharactersNotBytes) {
    // "ä" is two bytes but one character: the key drops six characters and keeps four.
    EXPECT_EQ(
        attachmentMemberKey("Accounts/a/com.microsoft.__Messages/I/com.microsoft.__Attachments/"
                            "photo_1234.jpäg"),
        "photo_123jpäg");
}

} // namespace
} // namespace parvelle::mailbox
