// Reading genuine Outlook files: folder trees, item classes, subjects, attachments, embedded
// messages, ANSI code pages and password checksums, as the samples' documentation states them.
#include "pst_read_fixtures.h"
#include "store/pst/inspect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace parvelle::pst;
using parvelle::pst_read_test::genuineFile;

namespace {

struct GenuineCase {
    const char* file;
    Format format;
    // Normal and search folders, as the samples' documentation counts them (-1: not stated).
    int folderNodes;
    std::map<std::string, int> classes;
    std::size_t attachments;
    std::vector<std::string> folderPaths; // paths that must be in the tree
    std::optional<std::uint32_t> passwordCrc;
};

const GenuineCase kCases[] = {
    {"pstsdk-sample1.pst", Format::Unicode, 7, {{"IPM.Note", 1}}, 1, {"/", "/Sample1"}, {}},
    {"pstsdk-sample2.pst", Format::Ansi, 7, {{"IPM.Note", 1}}, 1, {"/Sample2"}, {}},
    {"pstsdk-submessage.pst", Format::Unicode, -1, {{"IPM.Note", 1}}, 1, {"/submessage"}, {}},
    {"pstsdk-test_ansi.pst", Format::Ansi, 6, {{"IPM.Post", 1}}, 0, {"/Folder"}, 0xF93BA110},
    {"pstsdk-test_unicode.pst", Format::Unicode, -1, {{"IPM.Post", 2}}, 0, {"/Folder"}, 0xF93BA110},
    {"javalibpst-dist-list.pst",
     Format::Unicode,
     24,
     {{"IPM.Appointment", 1}, {"IPM.Contact", 1}, {"IPM.DistList", 1}},
     2,
     {"/Calendar", "/Contacts"},
     {}},
    {"javalibpst-passworded.pst",
     Format::Unicode,
     -1,
     {{"IPM.Contact", 1}, {"IPM.DistList", 1}},
     0,
     {"/Contacts"},
     0xE61EB50F},
    {"aspose-Outlook_1.pst",
     Format::Unicode,
     25,
     {{"IPM.Note", 14}, {"IPM.Appointment", 1}, {"IPM.Contact", 1}},
     34,
     {"/Inbox", "/Inbox/SubInbox", "/Sent Items"},
     {}},
    {"aspose-passwordprotectedPST.pst",
     Format::Unicode,
     -1,
     {{"IPM.Note", 11},
      {"REPORT.IPM.Note.DR", 4},
      {"REPORT.IPM.Note.NDR", 2},
      {"REPORT.IPM.Note.IPNRN", 1}},
     17,
     {"/Inbox"},
     0x11A89DA7},
    {"tika-testPST.pst", Format::Unicode, -1, {{"IPM.Note", 7}}, 1, {"/"}, {}},
    {"tika-testPST_variousBodyTypes.pst",
     Format::Unicode,
     -1,
     {{"IPM.Note", 4}},
     0,
     {"/Inbox/tmp"},
     {}},
    {"gopst-32-bit.pst", Format::Ansi, 5, {{"IPM.Appointment", 1}}, 0, {"/Calendar"}, {}},
    {"pstx-contacts.pst",
     Format::Unicode,
     -1,
     {{"IPM.Contact", 1}},
     0,
     {"/連絡先 (Contact dedicated)"},
     {}},
    {"pstx-contacts97-2002.pst",
     Format::Ansi,
     -1,
     {{"IPM.Contact", 1}},
     0,
     {"/連絡先 (Contact dedicated)", "/削除済みアイテム"},
     {}},
    {"pstx-alpha-beta-gamma-delta.pst", Format::Unicode, -1, {{"IPM.Note", 1}}, 2, {"/"}, {}},
    {"tghanem-user1_test.lab.pst",
     Format::Unicode,
     25,
     {{"IPM.Note", 6}},
     2,
     {"/FolderWithTwoSubFolders/SubFolder1", "/FolderWithTwoSubFolders/SubFolder2"},
     0x4A737248},
    {"vitam-ContactCalendar-test.pst",
     Format::Unicode,
     18,
     {{"IPM.Appointment", 19}, {"IPM.Contact", 1}},
     9,
     {"/Calendrier", "/Contacts"},
     {}},
};

class GenuineFiles : public testing::TestWithParam<GenuineCase> {};

const ItemSummary* findItem(const StoreSummary& s, const std::string& folder,
                            const std::string& messageClass) {
    const auto it = std::find_if(s.items.begin(), s.items.end(), [&](const ItemSummary& i) {
        return i.folder == folder && i.messageClass == messageClass;
    });
    return it == s.items.end() ? nullptr : &*it;
}

} // namespace

TEST_P(GenuineFiles, ReadsFoldersItemsAndAttachments) {
    const GenuineCase& c = GetParam();
    const auto path = genuineFile(c.file);
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const auto store = PstReader::open(*path);
    ASSERT_TRUE(store) << store.error();
    EXPECT_EQ(store->header().format, c.format);
    EXPECT_EQ(store->header().crypt, CryptMethod::Permute);

    int folderNodes = 0;
    for (const NbtEntry& node : store->ndb().allNodes()) {
        const auto type = nidType(node.nid);
        folderNodes += type == kNidTypeNormalFolder || type == kNidTypeSearchFolder;
    }
    if (c.folderNodes >= 0) {
        EXPECT_EQ(folderNodes, c.folderNodes);
    }

    const auto summary = inspectStore(*store, true);
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_TRUE(summary->problems.empty()) << summary->problems.front();
    std::map<std::string, int> classes;
    std::size_t attachments = 0;
    for (const ItemSummary& item : summary->items) {
        ++classes[item.messageClass];
        attachments += item.attachments.size();
        // Stored subjects may start with U+0001 and a prefix length; readers never show them.
        EXPECT_TRUE(item.subject.empty() || static_cast<unsigned char>(item.subject[0]) >= 0x20)
            << item.subject;
    }
    EXPECT_EQ(classes, c.classes);
    EXPECT_EQ(attachments, c.attachments);
    for (const std::string& path : c.folderPaths) {
        EXPECT_TRUE(std::any_of(summary->folders.begin(), summary->folders.end(),
                                [&](const FolderSummary& f) { return f.path == path; }))
            << path;
    }
    // Every folder's item count is its contents table; the items listed add up to them.
    std::uint64_t listed = 0;
    for (const FolderSummary& f : summary->folders)
        listed += f.items;
    EXPECT_EQ(listed, summary->items.size());
    EXPECT_EQ(store->passwordCrc(), c.passwordCrc);
}

INSTANTIATE_TEST_SUITE_P(Samples, GenuineFiles, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<GenuineCase>& info) {
                             std::string name = info.param.file;
                             name.erase(name.find(".pst"));
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(PstReader, SampleMessageFieldsAndAttachmentBytes) {
    const auto path = genuineFile("tghanem-user1_test.lab.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const auto store = PstReader::open(*path);
    ASSERT_TRUE(store);
    const auto summary = inspectStore(*store, true);
    ASSERT_TRUE(summary);
    const auto it =
        std::find_if(summary->items.begin(), summary->items.end(), [](const ItemSummary& i) {
            return i.subject == "TestWithTextFileAttachment";
        });
    ASSERT_NE(it, summary->items.end());
    EXPECT_EQ(it->folder, "/FolderWithMessagesWithAttachments");
    EXPECT_EQ(it->senderName, "user1");
    EXPECT_EQ(it->senderAddress, "user1@test.lab");
    ASSERT_EQ(it->recipients.size(), 1u);
    EXPECT_EQ(it->recipients[0].type, "to");
    EXPECT_EQ(it->recipients[0].address, "user1@test.lab");
    ASSERT_TRUE(it->sentTime);
    EXPECT_EQ(it->sentTime->size(), 20u); // YYYY-MM-DDThh:mm:ssZ
    ASSERT_EQ(it->attachments.size(), 1u);
    EXPECT_EQ(it->attachments[0].name, "TextFile.txt");
    EXPECT_EQ(it->attachments[0].size, 4u);
    ASSERT_TRUE(it->attachments[0].sha256);

    const auto body =
        std::find_if(summary->items.begin(), summary->items.end(), [](const ItemSummary& i) {
            return i.subject == "TestWithBodyOf4KCharacters";
        });
    ASSERT_NE(body, summary->items.end());
    EXPECT_GE(body->bodyChars, 4000u);
}

TEST(PstReader, OpensEmbeddedMessages) {
    const auto path = genuineFile("pstsdk-submessage.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const auto store = PstReader::open(*path);
    ASSERT_TRUE(store);
    const auto top = store->ipmSubtree();
    ASSERT_TRUE(top);
    const auto summary = inspectStore(*store, true);
    ASSERT_TRUE(summary);
    const ItemSummary* item = findItem(*summary, "/submessage", "IPM.Note");
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->attachments.size(), 1u);
    EXPECT_FALSE(item->attachments[0].sha256); // an embedded message, not bytes

    int embedded = 0;
    for (const NbtEntry& node : store->ndb().allNodes()) {
        if (nidType(node.nid) != kNidTypeNormalMessage)
            continue;
        const auto message = store->message(node.nid);
        ASSERT_TRUE(message) << message.error();
        for (const PstAttachment& a : message->attachments) {
            EXPECT_EQ(integerProp(a.props, propid::kAttachMethod), kAttachEmbeddedMessage);
            const auto inner = store->embeddedMessage(a);
            ASSERT_TRUE(inner) << inner.error();
            EXPECT_EQ(summarizeMessage(*store, *inner, "/").subject, "This is an embedded message");
            ++embedded;
        }
    }
    EXPECT_EQ(embedded, 1);
}

TEST(PstReader, DecodesAnsiStringsInTheStoreCodePage) {
    const auto path = genuineFile("pstx-contacts97-2002.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const auto store = PstReader::open(*path);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->storeCodepage(), 932u);
    const auto summary = inspectStore(*store, true);
    ASSERT_TRUE(summary);
    const ItemSummary* contact = findItem(*summary, "/連絡先 (Contact dedicated)", "IPM.Contact");
    ASSERT_NE(contact, nullptr);
    EXPECT_EQ(contact->subject, "コム ドット イグザンプル 殿");
}

TEST(PstReader, AttachmentStreamMatchesReturnedBytes) {
    const auto path = genuineFile("aspose-Outlook_1.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const auto store = PstReader::open(*path);
    ASSERT_TRUE(store);
    std::size_t checked = 0;
    for (const NbtEntry& node : store->ndb().allNodes()) {
        if (nidType(node.nid) != kNidTypeNormalMessage)
            continue;
        const auto message = store->message(node.nid);
        ASSERT_TRUE(message);
        for (const PstAttachment& a : message->attachments) {
            if (integerProp(a.props, propid::kAttachMethod) != kAttachByValue)
                continue;
            std::vector<std::uint8_t> streamed;
            const auto size = store->attachmentData(a, [&](std::span<const std::uint8_t> b) {
                streamed.insert(streamed.end(), b.begin(), b.end());
            });
            ASSERT_TRUE(size) << size.error();
            const auto bytes = store->attachmentBytes(a);
            ASSERT_TRUE(bytes);
            EXPECT_EQ(*size, bytes->size());
            EXPECT_EQ(streamed, *bytes);
            ++checked;
        }
    }
    EXPECT_GT(checked, 20u);
}

TEST(PstReader, ReadsTheNamedPropertyMap) {
    const auto path = genuineFile("javalibpst-dist-list.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const auto store = PstReader::open(*path);
    ASSERT_TRUE(store);
    const auto names = store->namedProperties();
    ASSERT_TRUE(names) << names.error();
    ASSERT_FALSE(names->empty());
    // PSETID_Appointment {00062002-0000-0000-C000-000000000046}, dispid 0x8223 (recurring).
    const bool recurring = std::any_of(names->begin(), names->end(), [](const NamedProperty& p) {
        return !p.isString && p.number == 0x8223 && p.guid[0] == 0x02 && p.guid[1] == 0x20 &&
               p.guid[2] == 0x06;
    });
    EXPECT_TRUE(recurring);
    for (const NamedProperty& p : *names)
        EXPECT_GE(p.propId, 0x8000);
}

TEST(PstReader, RejectsFilesThatAreNotPst) {
    const auto store = PstReader::fromBytes(std::vector<std::uint8_t>(4096, 'x'));
    ASSERT_FALSE(store);
    EXPECT_NE(store.error().find("not a PST file"), std::string::npos);
    const auto missing = PstReader::open("/nonexistent/file.pst");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("Cannot open"), std::string::npos);
}

TEST(PstReader, FiletimeFormatsAsUtc) {
    EXPECT_EQ(filetimeToIso8601(116444736000000000ull), "1970-01-01T00:00:00Z");
    // 2019-07-30 15:00:00 UTC.
    EXPECT_EQ(filetimeToIso8601(132089724000000000ull), "2019-07-30T15:00:00Z");
}

TEST(PstReader, SubjectsTheSamplesDocument) {
    struct Case {
        const char* file;
        const char* folder;
        const char* messageClass;
        const char* subjectPart;
    };
    const Case cases[] = {
        {"gopst-32-bit.pst", "/Calendar", "IPM.Appointment", "Updated: Olympus training"},
        {"aspose-passwordprotectedPST.pst", "/Inbox", "IPM.Note", "(Aspose.Email Evaluation)"},
    };
    for (const Case& c : cases) {
        const auto path = genuineFile(c.file);
        if (!path)
            GTEST_SKIP() << "third-party samples not present";
        const auto store = PstReader::open(*path);
        ASSERT_TRUE(store);
        const auto summary = inspectStore(*store, true);
        ASSERT_TRUE(summary);
        const bool found =
            std::any_of(summary->items.begin(), summary->items.end(), [&](const ItemSummary& i) {
                return i.folder == c.folder && i.messageClass == c.messageClass &&
                       i.subject.find(c.subjectPart) != std::string::npos;
            });
        EXPECT_TRUE(found) << c.file;
    }
}
