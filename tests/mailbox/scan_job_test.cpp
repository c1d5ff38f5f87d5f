#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "items/file_names.h"
#include "mailbox/progress_job.h"
#include "olmgen/olmgen.h"
#include "recording_frontend.h"
#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

olmgen::ArchiveDescription smallDescription() {
    olmgen::ArchiveDescription d;
    olmgen::Account acct;
    acct.name = "acct";
    olmgen::Mail m1;
    m1.subject = "Hello";
    m1.from = {"Ann", "ann@example.com"};
    m1.to = {{"Bob", "bob@example.com"}};
    m1.sentTime = "2020-02-03T04:05:06";
    m1.body = "body one";
    olmgen::Attachment a;
    a.name = "report.pdf";
    a.extension = "pdf";
    a.content = "%PDF-1.4 data";
    m1.attachments.push_back(a);
    olmgen::Mail m2;
    m2.subject = "Grüße 你好";
    m2.from = {"", "c@example.com"};
    m2.cc = {{"", "d@example.com"}};
    olmgen::MailFolder inbox{"Inbox", {m1, m2}, {}};
    olmgen::Mail m3;
    m3.subject = "Nested";
    inbox.folders.push_back({"Sub", {m3}, {}});
    acct.mailFolders.push_back(inbox);
    olmgen::ItemFolder contacts;
    contacts.path = "Contacts";
    olmgen::Contact c1;
    c1.displayName = "Carl";
    olmgen::Contact c2;
    c2.displayName = "Dora";
    contacts.contacts = {c1, c2};
    acct.itemFolders.push_back(contacts);
    olmgen::ItemFolder calendar;
    calendar.path = "Calendar";
    olmgen::Event e;
    e.summary = "Standup";
    e.startTime = "2021-01-01T09:00:00";
    calendar.events = {e};
    acct.itemFolders.push_back(calendar);
    d.accounts.push_back(acct);
    olmgen::Account local;
    local.name = std::string(olmgen::kLocalAccount);
    olmgen::Mail draft;
    draft.subject = "Draft";
    local.mailFolders.push_back({"Drafts", {draft}, {}});
    d.accounts.push_back(local);
    return d;
}

struct ScanResult {
    JobState state;
    testing::RecordingFrontEnd ui;
};

void scan(ScanResult& r, const std::filesystem::path& archive) {
    r.state.archivePath = archive.string();
    ProgressJob job(r.state, r.ui, JobKind::Scan);
    job.start();
    job.join();
}

// folder key -> subjects of its items in order
std::map<std::string, std::vector<std::string>> subjectsByFolder(const JobState& s) {
    std::map<TreeItem, std::string> keys;
    for (const auto& n : s.folderNodes)
        keys[n.treeItem] = n.key;
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& details : s.folderItems)
        for (const auto& item : details->items)
            out[keys[details->treeItem]].push_back(item.subject);
    return out;
}

std::map<std::string, std::vector<std::string>>
expectedSubjects(const olmgen::ArchiveFacts& facts) {
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& item : facts.items)
        out[item.folderKey].push_back(item.subject);
    return out;
}

TEST(ScanJob, BuildsFoldersAndSummariesOfEveryKindFromStoredAndDeflatedArchives) {
    for (const auto compression : {olmgen::Compression::Stored, olmgen::Compression::Deflated}) {
        SCOPED_TRACE(compression == olmgen::Compression::Stored ? "stored" : "deflated");
        parvelle::testing::TempDir dir;
        const auto path = dir / "small.olm";
        olmgen::WriteOptions options;
        options.compression = compression;
        const auto written = olmgen::writeArchive(smallDescription(), path, options);
        ASSERT_TRUE(written.ok()) << written.error;

        ScanResult r;
        scan(r, path);
        const JobState& s = r.state;
        EXPECT_EQ(subjectsByFolder(s), expectedSubjects(written.facts));

        std::set<std::string> keys;
        for (const auto& n : s.folderNodes)
            keys.insert(n.key);
        for (const auto& f : written.facts.folders)
            EXPECT_TRUE(keys.count(f.key)) << f.key;
        ASSERT_EQ(s.accounts.size(), 2u);
        EXPECT_EQ(s.accounts[0].name, "acct");
        EXPECT_EQ(s.accounts[1].name, "Local");

        // Every attachment can be found again, by its member path and by its member key.
        for (const auto& item : written.facts.items)
            for (const auto& a : item.attachments) {
                EXPECT_TRUE(s.memberPaths.count(a.memberPath)) << a.memberPath;
                EXPECT_TRUE(s.archiveMembers.count(a.memberKey)) << a.memberKey;
            }

        // The first mail's summary, and the attachment names the list shows.
        const RecoveredOlmHeaderData* hello = nullptr;
        for (const auto& details : s.folderItems)
            for (const auto& item : details->items)
                if (item.subject == "Hello")
                    hello = &item;
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->kind, "email");
        EXPECT_EQ(hello->from, "ann@example.com");
        EXPECT_EQ(hello->to, "bob@example.com");
        EXPECT_EQ(hello->attachmentNames, "report.pdf");
        EXPECT_EQ(hello->hasAttachments, 1);

        // Ended once with "finished", and the log frames the scan.
        const auto ended = r.ui.posted(Notification::Ended);
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_EQ(ended[0].wParam, 1);
        const auto rows = s.log.rows();
        ASSERT_GE(rows.size(), 3u);
        EXPECT_EQ(rows[0].itemType, "Source File Location:");
        EXPECT_EQ(rows[0].description, path.string());
        EXPECT_EQ(rows[1].itemType, "Conversion Start Time:");
        EXPECT_EQ(rows.back().itemType, "Conversion Completed Time:");
        EXPECT_EQ(s.logAvailable.load(), 1);
        EXPECT_EQ(s.saveEnabled.load(), 1);
    }
}

TEST(ScanJob, ArchiveWithoutDirectoryMembersStillShowsItsFolders) {
    parvelle::testing::TempDir dir;
    const auto normal = dir / "normal.olm";
    const auto bare = dir / "bare.olm";
    ASSERT_TRUE(olmgen::writeArchive(smallDescription(), normal).ok());
    olmgen::WriteOptions options;
    options.damage = olmgen::Damage::NoDirectoryMembers;
    ASSERT_TRUE(olmgen::writeArchive(smallDescription(), bare, options).ok());
    ScanResult a, b;
    scan(a, normal);
    scan(b, bare);
    EXPECT_EQ(subjectsByFolder(b.state), subjectsByFolder(a.state));
}

TEST(ScanJob, DamagedArchivesYieldEverythingThatIsReadable) {
    const auto description = olmgen::sampleDescription();
    for (const auto damage : olmgen::allDamageModes()) {
        SCOPED_TRACE(std::string(olmgen::damageName(damage)));
        parvelle::testing::TempDir dir;
        const auto path = dir / "damaged.olm";
        olmgen::WriteOptions options;
        options.damage = damage;
        const auto written = olmgen::writeArchive(description, path, options);
        ASSERT_TRUE(written.ok()) << written.error;
        ScanResult r;
        scan(r, path);
        // Every item outside the damaged member is listed in its folder.
        auto expected = expectedSubjects(written.facts);
        auto got = subjectsByFolder(r.state);
        std::size_t expectedCount = 0, missing = 0;
        for (const auto& item : written.facts.items) {
            if (item.documentPath == written.facts.damagedMember)
                continue;
            ++expectedCount;
            // The list shows subjects with file-name characters replaced.
            const auto& list = got[item.folderKey];
            const std::string shown =
                item.subject.empty() ? std::string() : items::SanitizeFileName(item.subject);
            if (!shown.empty() && std::find(list.begin(), list.end(), shown) == list.end()) {
                ADD_FAILURE() << "missing " << item.folderKey << ": " << shown;
                ++missing;
            }
        }
        EXPECT_GT(expectedCount, 0u);
        EXPECT_EQ(missing, 0u);
    }
}

TEST(ScanJob, StopEndsTheScanReportsItAndKeepsWhatWasBuilt) {
    parvelle::testing::TempDir dir;
    const auto path = dir / "sample.olm";
    ASSERT_TRUE(olmgen::writeArchive(olmgen::sampleDescription(), path).ok());
    ScanResult r;
    std::size_t seen = 0;
    r.ui.onProgress = [&] {
        if (++seen == 5)
            r.state.stopRequested = 1;
    };
    scan(r, path);
    const auto ended = r.ui.posted(Notification::Ended);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].wParam, 0);
    EXPECT_EQ(r.state.stopRequested.load(), 0);
    EXPECT_EQ(r.state.log.rows().back().itemType, "Conversion Completed Time:");
    EXPECT_NE(r.state.rootItem, 0u);
}

TEST(ScanJob, FileThatIsNotAnArchiveEndsNormallyWithAnEmptyRoot) {
    parvelle::testing::TempDir dir;
    const auto path = dir / "notes.txt";
    std::ofstream(path) << "not an archive";
    ScanResult r;
    scan(r, path);
    EXPECT_EQ(r.ui.posted(Notification::Ended).at(0).wParam, 1);
    EXPECT_TRUE(r.state.folderTree.children(r.state.rootItem).empty());

    ScanResult missing;
    scan(missing, dir / "absent.olm");
    EXPECT_EQ(missing.ui.posted(Notification::Ended).at(0).wParam, 1);
    EXPECT_TRUE(missing.state.folderNodes.empty());
}

TEST(ListJob, ListsOneFolderCappingLongTextsAndReplacesThePreviousListing) {
    ScanResult r;
    auto details = std::make_unique<Name_details>();
    details->treeItem = 7;
    RecoveredOlmHeaderData item;
    item.subject = std::string(300, 's');
    item.from = std::string(300, 'f');
    item.to = std::string(255, 't');
    item.cc = "cc";
    details->items = {item, item};
    r.state.folderItems.push_back(std::move(details));
    r.state.listFolderItem = 7;
    r.state.stopRequested = 1; // a stop requested before the listing does not cancel it
    {
        ProgressJob job(r.state, r.ui, JobKind::ListFolder);
        job.run();
    }
    ASSERT_EQ(r.state.listedRecords.size(), 2u);
    const auto& listed = *r.state.listedRecords[0];
    EXPECT_EQ(listed.subject.size(), 300u);
    EXPECT_EQ(listed.from.size(), 250u);
    EXPECT_EQ(listed.to.size(), 255u);
    EXPECT_EQ(listed.cc, "");
    EXPECT_EQ(r.state.itemCount.load(), 2);
    EXPECT_EQ(r.ui.posted(Notification::ListDone).size(), 1u);
    {
        ProgressJob again(r.state, r.ui, JobKind::ListFolder);
        again.run();
    }
    EXPECT_EQ(r.state.listedRecords.size(), 2u);
}

TEST(ScanJob, ReadsTheGenuineOutlookArchive) {
    const std::filesystem::path genuine =
        std::filesystem::path(PARVELLE_THIRD_PARTY_DIR) / "olm" / "aspose-SampleOLM.olm";
    if (!std::filesystem::exists(genuine))
        GTEST_SKIP() << "genuine archive not present";
    ScanResult r;
    scan(r, genuine);
    const auto subjects = subjectsByFolder(r.state);
    ASSERT_TRUE(subjects.count("Local/Outlook2 PST/Sent Items"));
    EXPECT_GE(subjects.at("Local/Outlook2 PST/Sent Items").size(), 4u);
    EXPECT_TRUE(subjects.count("Local/Address Book"));
    for (const auto& [key, list] : subjects)
        for (const auto& s : list)
            EXPECT_FALSE(s.empty()) << key;
    EXPECT_FALSE(r.state.archiveMembers.empty());
}

} // namespace
} // namespace parvelle::mailbox
