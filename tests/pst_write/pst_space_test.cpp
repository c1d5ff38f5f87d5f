// How the writer uses the file's space: the allocation maps and the deprecated maps the format
// still requires past their size thresholds, and space released by one commit taken up again.
#include "corpus.h"
#include "oracles.h"
#include "store/pst/reader_ndb.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <set>

namespace parvelle::pst::test {
namespace {

// Messages with one attachment of `bytes` each, in one folder.
std::vector<CorpusFolder> mailsWithAttachments(int count, std::size_t bytes) {
    CorpusFolder f{"Large", "IPF.Note", {}};
    for (int i = 0; i < count; ++i) {
        mapi::Message m = simpleMail("Attachment carrier " + std::to_string(i), "See attached.");
        mapi::Binary content(bytes);
        for (std::size_t k = 0; k < content.size(); ++k)
            content[k] = static_cast<std::uint8_t>(k * 7 + static_cast<std::size_t>(i));
        m.attachments.push_back(mapi::Attachment::byValue("part.bin", std::move(content)));
        f.messages.push_back(std::move(m));
    }
    return {std::move(f)};
}

void writeNew(const std::string& path, const std::vector<CorpusFolder>& corpus,
              std::size_t commitEvery) {
    std::string error;
    auto store = PstStore::create(path, options("Space", commitEvery), error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(writeCorpus(*store, corpus, error)) << error;
    ASSERT_TRUE(store->close(error)) << error;
}

// The longest run of clear bits in an AMap bitmap, capped as an FMap byte is.
int longestFreeRun(std::span<const std::uint8_t> bits) {
    int longest = 0;
    int run = 0;
    for (std::uint8_t byte : bits) {
        for (int bit = 7; bit >= 0; --bit) {
            run = (byte >> bit) & 1 ? 0 : run + 1;
            longest = std::max(longest, run);
        }
    }
    return std::min(longest, 255);
}

// Past 128 allocation maps (about 32 MB) the file needs FMap pages; each byte tells the longest
// free run in one AMap. PMaps (and FPMaps, past 2 GB) say that no page is free in them.
TEST(PstSpace, FileOverTheFreeMapThresholdCarriesTrueMaps) {
    parvelle::testing::TempDir dir;
    const std::string pst = (dir / "large.pst").string();
    writeNew(pst, mailsWithAttachments(140, 256 * 1024), 40);

    auto db = NodeDatabase::open(pst);
    ASSERT_TRUE(db) << db.error();
    const auto bytes = db->bytes();
    const std::uint64_t intervals = (db->header().ibFileEof - kFirstAMapOffset) / kAMapCoverage;
    ASSERT_GT(intervals, kFMapFirstAMap);
    std::size_t fmapPages = 0;
    for (std::uint64_t n = 0; n < intervals; ++n) {
        const MapPages pages = mapPagesOfInterval(n);
        for (std::size_t i = 0; i < pages.count; ++i) {
            const auto [type, ib] = pages.pages[i];
            const auto page = bytes.subspan(ib, kPageSize);
            ASSERT_EQ(readPageTrailer(Format::Unicode, page).ptype, type) << hexId(ib);
            const auto bits = page.first(kMapBitmapBytes);
            if (type == PageType::PMap || type == PageType::FPMap) {
                EXPECT_EQ(std::count(bits.begin(), bits.end(), 0xFF), 496) << hexId(ib);
            } else if (type == PageType::FMap) {
                ++fmapPages;
                for (std::uint64_t k = 0; k < kMapBitmapBytes; ++k) {
                    const int expected =
                        n + k < intervals
                            ? longestFreeRun(bytes.subspan(amapOffset(n + k), kMapBitmapBytes))
                            : 0;
                    EXPECT_EQ(bits[k], expected) << "FMap " << hexId(ib) << " entry " << k;
                }
            }
        }
    }
    EXPECT_EQ(fmapPages, 1u);
    EXPECT_EQ(checkerViolations(pst), "");
}

// Each commit rewrites the B-trees and the tables that changed; what the previous state used is
// free once the next header is out, and later blocks go there instead of growing the file. An
// append also finds the free space the file had when it was opened.
TEST(PstSpace, SpaceReleasedByACommitIsWrittenAgain) {
    parvelle::testing::TempDir dir;
    const std::string pst = (dir / "reuse.pst").string();
    writeNew(pst, manyMessages("Inbox", 300), 50);
    std::uint64_t firstEof = 0;
    std::set<std::uint64_t> firstBlocks;
    {
        auto db = NodeDatabase::open(pst);
        ASSERT_TRUE(db) << db.error();
        firstEof = db->header().ibFileEof;
        for (const BbtEntry& b : db->allBlocks())
            firstBlocks.insert(b.bref.bid);
    }
    {
        std::string error;
        auto store = PstStore::open(pst, error);
        ASSERT_TRUE(store) << error;
        store->setCommitInterval(50);
        ASSERT_TRUE(writeCorpus(*store, manyMessages("Inbox", 300), error)) << error;
        ASSERT_TRUE(store->close(error)) << error;
    }
    auto db = NodeDatabase::open(pst);
    ASSERT_TRUE(db) << db.error();
    std::size_t newBlocksInOldSpace = 0;
    for (const BbtEntry& b : db->allBlocks())
        if (!firstBlocks.count(b.bref.bid) && b.bref.ib < firstEof)
            ++newBlocksInOldSpace;
    EXPECT_GT(newBlocksInOldSpace, 0u);
    EXPECT_EQ(checkerViolations(pst), "");
    auto own = readWithOwnReader(pst);
    ASSERT_TRUE(own.store) << own.error;
    EXPECT_EQ(own.store->folders["Inbox"].size(), 600u);
}

} // namespace
} // namespace parvelle::pst::test
