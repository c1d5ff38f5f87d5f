// Contact groups whose member lists reach the 15,000 bytes the list properties may hold, converted
// end to end with parvelle-cli: every member comes back in order from the member stream through
// our reader, pst-extractor and pffexport, while the list properties keep the leading members
// that fit; a list just below the limit has no stream. Also: the checksum of a list that Outlook
// itself wrote.
#include <gtest/gtest.h>

#include <filesystem>

#include "dist_list_stream.h"
#include "olmgen/olmgen.h"
#include "oracles.h"
#include "own_reader.h"
#include "store/mapi/distribution_list.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/tags.h"
#include "temp_dir.h"
#include "third_party_kinds.h"

namespace parvelle::items::test {
namespace {

namespace fs = std::filesystem;
using parvelle::testing::oneOffText;
using parvelle::testing::parseDistListStream;

mapi::NamedProperty address(std::uint32_t id) {
    return {mapi::psets::kAddress, id};
}

// The entry id the converter makes of an archive member.
mapi::Binary entryIdOf(const olmgen::Address& m) {
    return mapi::oneOffEntryId(m.name.empty() ? m.address : m.name, "SMTP", m.address);
}

std::vector<mapi::Binary> entryIdsOf(const std::vector<olmgen::Address>& members) {
    std::vector<mapi::Binary> ids;
    for (const auto& m : members)
        ids.push_back(entryIdOf(m));
    return ids;
}

std::vector<olmgen::Address> numberedMembers(std::size_t count, const std::string& prefix) {
    std::vector<olmgen::Address> out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(1000 + i).substr(1);
        out.push_back({prefix + " Member " + n + (i % 7 == 3 ? " Ærø" : ""),
                       prefix + ".member" + n + "@example.com"});
    }
    return out;
}

// Members whose list property would take exactly `listSize` bytes (an even number: UTF-16
// strings make every entry id even): numbered members, the last one's name padded.
std::vector<olmgen::Address> membersOfListSize(std::size_t listSize, const std::string& prefix) {
    auto members = numberedMembers(100, prefix);
    const std::size_t size = mapi::memberListSize(entryIdsOf(members));
    members.back().name += std::string((listSize - size) / 2, 'x');
    return members;
}

struct GroupCase {
    std::string name;
    std::vector<olmgen::Address> members;
    bool streamed;
};

std::vector<GroupCase> groupCases() {
    return {{"Whole department", numberedMembers(300, "dept"), true},
            {"At the limit", membersOfListSize(15000, "at"), true},
            {"Just below the limit", membersOfListSize(14998, "below"), false}};
}

std::vector<std::string> texts(const std::vector<olmgen::Address>& members) {
    std::vector<std::string> out;
    for (const auto& m : members)
        out.push_back((m.name.empty() ? m.address : m.name) + " <" + m.address + ">");
    return out;
}

struct Converted {
    parvelle::testing::TempDir dir;
    std::string pst;
    std::string error;
};

const Converted& converted() {
    static const std::unique_ptr<Converted> c = [] {
        auto out = std::make_unique<Converted>();
        olmgen::Account account{"lists@example.com", {}, {}};
        olmgen::ItemFolder contacts;
        contacts.path = "Contacts";
        for (const GroupCase& g : groupCases())
            contacts.groups.push_back({g.name, g.members, "", "2024-02-05T09:00:00", {}});
        account.itemFolders.push_back(contacts);
        // pst-extractor never reads the last entry of a file's named-property map; a task
        // converted after the groups keeps the stream's name out of that place.
        olmgen::ItemFolder tasks;
        tasks.path = "Tasks";
        tasks.tasks.push_back(
            {"Send the minutes", "", "2024-02-05T09:00:00", "", "", "", "", 3, std::nullopt, {}});
        account.itemFolders.push_back(tasks);
        const auto archive = out->dir / "lists.olm";
        const auto written = olmgen::writeArchive({{}, {account}}, archive);
        if (!written.ok()) {
            out->error = written.error;
            return out;
        }
        std::string output;
        if (pst::test::runCommand(std::string(PARVELLE_CLI) + " convert '" + archive.string() +
                                      "' --to pst --out '" + (out->dir / "out").string() + "' 2>&1",
                                  &output) != 0)
            out->error = output;
        out->pst = (out->dir / "out" / "lists@example.com.pst").string();
        return out;
    }();
    return *c;
}

TEST(LongGroupsToPst, SizesOfTheCasesAreWhatTheyClaim) {
    // The boundary cases only test the limit if their lists are the sizes they are named for.
    const auto cases = groupCases();
    EXPECT_EQ(mapi::memberListSize(entryIdsOf(cases[1].members)), 15000u);
    EXPECT_EQ(mapi::memberListSize(entryIdsOf(cases[2].members)), 14998u);
}

TEST(LongGroupsToPst, OwnReaderFindsEveryMemberInTheStream) {
    const Converted& c = converted();
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(pst::test::checkerViolations(c.pst), "");
    std::string error;
    const OwnStore store = OwnStore::read(c.pst, error);
    ASSERT_EQ(error, "");
    const auto membersId = store.namedId(address(0x8055));
    const auto oneOffsId = store.namedId(address(0x8054));
    ASSERT_TRUE(membersId && oneOffsId);
    for (const GroupCase& g : groupCases()) {
        SCOPED_TRACE(g.name);
        const OwnItem* item = nullptr;
        for (const OwnItem& i : store.items("Contacts"))
            if (store.text(i, mapi::tagId(mapi::tags::kSubject)) == g.name)
                item = &i;
        ASSERT_NE(item, nullptr);
        const std::vector<mapi::Binary> expected = entryIdsOf(g.members);
        const auto listed = store.multi(*item, *membersId);
        EXPECT_EQ(store.multi(*item, *oneOffsId), listed);
        EXPECT_LT(mapi::memberListSize(listed), mapi::kMemberListLimit);
        ASSERT_LE(listed.size(), expected.size());
        EXPECT_TRUE(std::equal(listed.begin(), listed.end(), expected.begin()));
        EXPECT_EQ(static_cast<std::uint32_t>(store.integer(*item, address(0x804C)).value_or(-1)),
                  mapi::distributionListChecksum(listed));
        const auto stream = store.binary(*item, address(0x8064));
        if (!g.streamed) {
            EXPECT_FALSE(stream.has_value());
            EXPECT_EQ(listed, expected);
            continue;
        }
        // The list properties hold as many leading members as stay below the limit.
        ASSERT_LT(listed.size(), expected.size());
        auto withNext = listed;
        withNext.push_back(expected[listed.size()]);
        EXPECT_GE(mapi::memberListSize(withNext), mapi::kMemberListLimit);
        ASSERT_TRUE(stream.has_value());
        const auto parsed = parseDistListStream(*stream);
        ASSERT_TRUE(parsed);
        ASSERT_EQ(parsed->members.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(parsed->members[i].entryId, expected[i]) << i;
            EXPECT_EQ(parsed->members[i].oneOffEntryId, expected[i]) << i;
        }
    }
}

TEST(LongGroupsToPst, PstExtractorSeesEveryMemberInOrder) {
    const Converted& c = converted();
    ASSERT_EQ(c.error, "");
    const auto seen = readKindsWithPstExtractor(c.pst);
    if (seen.skipped)
        GTEST_SKIP() << "pst-extractor is not installed";
    ASSERT_EQ(seen.error, "");
    for (const GroupCase& g : groupCases()) {
        SCOPED_TRACE(g.name);
        const KindItem* item = seen.item("Contacts", g.name);
        ASSERT_NE(item, nullptr);
        const auto expected = texts(g.members);
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(item->field("member" + std::to_string(i)), expected[i]) << i;
        EXPECT_EQ(item->field("member" + std::to_string(expected.size())), "");
        const std::string listed =
            g.streamed ? std::to_string(mapi::membersBelowListLimit(entryIdsOf(g.members)))
                       : std::string();
        EXPECT_EQ(item->field("listed"), listed);
    }
}

TEST(LongGroupsToPst, PffexportHoldsTheStreamAsWritten) {
    const Converted& c = converted();
    ASSERT_EQ(c.error, "");
    const auto seen = pst::test::readItemValuesWithPffexport(c.pst, c.dir.path().string());
    if (seen.skipped)
        GTEST_SKIP() << "pffexport is not installed";
    ASSERT_EQ(seen.error, "");
    std::string error;
    const auto streamId = OwnStore::read(c.pst, error).namedId(address(0x8064));
    ASSERT_TRUE(streamId);
    const auto folder = seen.values->find("Contacts");
    ASSERT_NE(folder, seen.values->end());
    // Its item export must also go through without a complaint; it shows a list's name only.
    const auto exported = readKindsWithPffexport(c.pst, c.dir.path().string());
    ASSERT_EQ(exported.error, "");
    for (const GroupCase& g : groupCases()) {
        SCOPED_TRACE(g.name);
        const KindItem* listed = exported.item("Contacts", g.name);
        ASSERT_NE(listed, nullptr);
        EXPECT_EQ(listed->field("DistributionList.txt:Name"), g.name);
        const auto item = folder->second.find(g.name);
        ASSERT_NE(item, folder->second.end());
        const auto stream = item->second.find(std::uint32_t{*streamId} << 16 | 0x0102);
        if (!g.streamed) {
            EXPECT_EQ(stream, item->second.end());
            continue;
        }
        ASSERT_NE(stream, item->second.end());
        const auto parsed = parseDistListStream(stream->second);
        ASSERT_TRUE(parsed);
        std::vector<std::string> members;
        for (const auto& m : parsed->members)
            members.push_back(oneOffText(m.oneOffEntryId));
        EXPECT_EQ(members, texts(g.members));
    }
}

// readpst leaves lists out (a known gap); it must still read the file without complaint.
TEST(LongGroupsToPst, ReadpstReadsTheFile) {
    const Converted& c = converted();
    ASSERT_EQ(c.error, "");
    const auto seen = readKindsWithReadpst(c.pst, c.dir.path().string());
    if (seen.skipped)
        GTEST_SKIP() << "readpst is not installed";
    EXPECT_EQ(seen.error, "");
}

TEST(GroupChecksum, MatchesTheOneOutlookWrote) {
    const fs::path fixture =
        fs::path(PARVELLE_THIRD_PARTY_DIR) / "pst" / "javalibpst-dist-list.pst";
    if (!fs::exists(fixture))
        GTEST_SKIP() << "third-party samples are not present";
    std::string error;
    const OwnStore store = OwnStore::read(fixture.string(), error);
    ASSERT_EQ(error, "");
    const auto membersId = store.namedId(address(0x8055));
    ASSERT_TRUE(membersId);
    int lists = 0;
    for (const OwnItem& item : store.items("Contacts")) {
        if (store.text(item, mapi::tagId(mapi::tags::kMessageClass)) != "IPM.DistList")
            continue;
        ++lists;
        const auto members = store.multi(item, *membersId);
        ASSERT_EQ(members.size(), 3u);
        const auto checksum = store.integer(item, address(0x804C));
        ASSERT_TRUE(checksum);
        EXPECT_EQ(mapi::distributionListChecksum(members), static_cast<std::uint32_t>(*checksum));
    }
    EXPECT_EQ(lists, 1);
}

} // namespace
} // namespace parvelle::items::test
