#include <gtest/gtest.h>

#include "mailbox/mailbox_converter.h"
#include "recording_frontend.h"

namespace parvelle::mailbox {
namespace {

struct Split {
    JobState state;
    testing::RecordingFrontEnd ui;
    MailboxConverter converter{state, ui};

    std::vector<std::string> run(const std::string& doc, AggregateType type,
                                 ItemSource source = {1000, 0}) {
        source.size = static_cast<std::int64_t>(doc.size());
        converter.splitAggregate(source, doc, "acct/Contacts", type);
        std::vector<std::string> items;
        for (const auto& r : converter.memberRecords()) {
            EXPECT_EQ(r.folderKey, "acct/Contacts");
            const std::int64_t start =
                source.method == 0 ? r.offset - source.offset : r.innerOffset;
            items.push_back(
                doc.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(r.size)));
        }
        return items;
    }
};

const std::string kContact1 =
    "<contact "
    "xml:space=\"preserve\"><OPFContactCopyDisplayName>A</OPFContactCopyDisplayName></contact>";
const std::string kContact2 =
    "<contact "
    "xml:space=\"preserve\"><OPFContactCopyDisplayName>B</OPFContactCopyDisplayName></contact>";

TEST(AggregateSplitter, CutsEachItemFromItsStartTagToTheNext) {
    const std::string doc = "<contacts xml:space=\"preserve\" elementCount=\"2\">" + kContact1 +
                            "\n  " + kContact2 + "</contacts>";
    Split s;
    const auto items = s.run(doc, AggregateType::Contacts);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], kContact1 + "\n  ");
    EXPECT_EQ(items[1], kContact2);
}

TEST(AggregateSplitter, DeflatedMembersLocateItemsInsideTheInflatedDocument) {
    const std::string doc = "<contacts xml:space=\"preserve\" elementCount=\"2\">" + kContact1 +
                            kContact2 + "</contacts>";
    Split s;
    ItemSource deflated{500, 0, 8, 77, static_cast<std::int64_t>(doc.size()), 0};
    const auto items = s.run(doc, AggregateType::Contacts, deflated);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1], kContact2);
    for (const auto& r : s.converter.memberRecords()) {
        EXPECT_EQ(r.offset, 500);
        EXPECT_EQ(r.method, 8);
        EXPECT_EQ(r.packedSize, 77);
    }
}

TEST(AggregateSplitter,
     UnrecognisedStartTagsMergeIntoThePreviousItemAndEmptyDocumentsYieldNothing) {
    const std::string odd = "<contact  xml:space=\"preserve\"><x/></contact>";
    const std::string doc =
        "<contacts xml:space=\"preserve\" elementCount=\"2\">" + kContact1 + odd + "</contacts>";
    Split s;
    const auto items = s.run(doc, AggregateType::Contacts);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0], kContact1 + odd);

    Split empty;
    EXPECT_TRUE(empty.run("", AggregateType::Contacts).empty());
    Split none;
    EXPECT_TRUE(none.run("<contacts xml:space=\"preserve\" elementCount=\"0\"></contacts>",
                         AggregateType::Contacts)
                    .empty());
}

TEST(AggregateSplitter, EachKindUsesItsOwnTagAndTail) {
    struct Case {
        AggregateType type;
        std::string root, item;
    };
    const Case cases[] = {
        {AggregateType::Groups, "groups", "<group xml:space=\"preserve\"><a/></group>"},
        {AggregateType::Tasks, "tasks", "<task xml:space=\"preserve\"><a/></task>"},
        {AggregateType::Notes, "notes", "<note xml:space=\"preserve\"><a/></note>"},
        {AggregateType::Calendar, "appointments",
         "<appointment xml:space=\"preserve\"><a/></appointment>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        const std::string doc = "<" + c.root + " xml:space=\"preserve\" elementCount=\"2\">" +
                                c.item + c.item + "</" + c.root + ">";
        Split s;
        const auto items = s.run(doc, c.type);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[1], c.item);
    }
}

} // namespace
} // namespace parvelle::mailbox
