#include "mailbox/document_prefetch.h"

#include <fstream>
#include <gtest/gtest.h>

#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

RecoveredOlmHeaderData storedItem(std::int64_t offset, std::int64_t size) {
    RecoveredOlmHeaderData item;
    item.offset = offset;
    item.size = size;
    item.method = 0;
    return item;
}

// An archive of two stored documents, one after the other.
struct TwoDocuments {
    testing::TempDir dir;
    std::string path = (dir.path() / "archive.olm").string();
    std::string first = "<emails><email><OPFMessageCopySubject>One</OPFMessageCopySubject>"
                        "</email></emails>";
    std::string second = "<contact><OPFContactCopyFirstName>Two</OPFContactCopyFirstName>"
                         "</contact>";
    TwoDocuments() { std::ofstream(path, std::ios::binary) << first << second; }
};

TEST(DocumentPrefetch, HandsOutDocumentsInOrderAndMarksUnreadableOnes) {
    TwoDocuments archive;
    const auto n1 = static_cast<std::int64_t>(archive.first.size());
    const auto n2 = static_cast<std::int64_t>(archive.second.size());
    const std::vector<RecoveredOlmHeaderData> items = {
        storedItem(n1, n2),          // the second document first
        storedItem(n1 + n2 - 5, 50), // runs past the end of the archive
        storedItem(0, n1),
    };
    DocumentPrefetch ahead(archive.path, items);

    DocumentPrefetch::Document contact = ahead.next();
    ASSERT_TRUE(contact.read);
    EXPECT_TRUE(contact.doc.FindSibling("contact"));
    EXPECT_TRUE(contact.doc.FindChild("OPFContactCopyFirstName"));
    EXPECT_EQ(contact.doc.ChildText(), "Two");

    EXPECT_FALSE(ahead.next().read);

    DocumentPrefetch::Document mail = ahead.next();
    ASSERT_TRUE(mail.read);
    EXPECT_TRUE(mail.loadError.empty());
    EXPECT_TRUE(mail.doc.FindSibling("emails"));
}

} // namespace
} // namespace parvelle::mailbox
