#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailbox/item_summary.h"
#include "mailbox/scan_worker.h"

namespace parvelle::mailbox {
namespace {

std::string mailDocument(int i) {
    return "<emails><email><OPFMessageCopyFromAddresses><emailAddress "
           "OPFContactEmailAddressAddress=\"from" +
           std::to_string(i) +
           "@x\"/></OPFMessageCopyFromAddresses><OPFMessageCopySubject>Subject " +
           std::to_string(i) + "</OPFMessageCopySubject></email></emails>";
}

std::string attachmentPath(int i) {
    return "Accounts/a/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/ID" +
           std::to_string(i) + "@host_0000";
}

struct Fed {
    std::vector<std::string> documents; // by record index
    std::vector<std::string> members;
};

// Interleaves documents and attachment members the way a walk meets them; records whose index
// is a multiple of seven have no document (as for unreadable items). Members 5 and 6 share
// their attachment key.
Fed feed(ScanWorker& worker) {
    Fed fed;
    for (int i = 0; i < 400; ++i) {
        fed.documents.push_back(i % 7 == 0 ? std::string() : mailDocument(i));
        if (!fed.documents.back().empty())
            worker.summarize(static_cast<std::size_t>(i), fed.documents.back());
        if (i % 3 == 0) {
            const int n = static_cast<int>(fed.members.size());
            fed.members.push_back(n == 6 ? "Accounts/b/com.microsoft.__Messages/Sent/"
                                           "com.microsoft.__Attachments/ID5@host_0000"
                                         : attachmentPath(n));
            ItemSource source;
            source.offset = 1000 + n;
            source.size = 10;
            worker.addMember(fed.members.back(), source);
        }
    }
    return fed;
}

TEST(ScanWorker, SummarisesEveryDocumentAndFillsTheMemberTablesInWalkOrder) {
    // Default limits, and limits so small that the walk summarises most batches itself.
    const ScanWorker::Limits tiny{1, 1, 1};
    for (const ScanWorker::Limits& limits : {ScanWorker::Limits{}, tiny}) {
        SCOPED_TRACE(limits.queueBytes);
        JobState state;
        ScanWorker worker(state, limits);
        const Fed fed = feed(worker);
        SummaryTable table = worker.finish(fed.documents.size() + 1);

        const std::atomic<std::int32_t> noStop{0};
        for (std::size_t r = 0; r < fed.documents.size(); ++r) {
            SCOPED_TRACE(r);
            ItemSummary* summary = table.find(r);
            if (fed.documents[r].empty()) {
                EXPECT_EQ(summary, nullptr);
                continue;
            }
            ASSERT_NE(summary, nullptr);
            const ItemSummary alone = summarizeItem(fed.documents[r], noStop);
            EXPECT_EQ(summary->subject, alone.subject);
            EXPECT_EQ(summary->from, alone.from);
            EXPECT_EQ(summary->subject, "Subject " + std::to_string(r));
        }
        EXPECT_EQ(table.find(fed.documents.size()), nullptr);

        ASSERT_EQ(state.memberPaths.size(), fed.members.size());
        for (std::size_t n = 0; n < fed.members.size(); ++n)
            EXPECT_EQ(state.memberPaths.at(fed.members[n]).offset, 1000 + static_cast<int>(n));
        // The first member with a key keeps it.
        ASSERT_EQ(state.archiveMembers.size(), fed.members.size() - 1);
        EXPECT_EQ(state.archiveMembers.at("ID50000").offset, 1005);
    }
}

TEST(ScanWorker, AfterAStopDocumentsAreDroppedButMembersStillReachTheTables) {
    JobState state;
    ScanWorker worker(state, {1, 1, 1 << 30});
    state.stopRequested = 1;
    const Fed fed = feed(worker);
    SummaryTable table = worker.finish(fed.documents.size());
    for (std::size_t r = 0; r < fed.documents.size(); ++r)
        EXPECT_EQ(table.find(r), nullptr) << r;
    EXPECT_EQ(state.memberPaths.size(), fed.members.size());
}

} // namespace
} // namespace parvelle::mailbox
