// The consistency checker: genuine Outlook files check clean, each kind of damage is reported as
// its kind, and files re-encoded with the other block encodings read and check the same.
#include "pst_read_fixtures.h"
#include "store/pst/checker.h"
#include "store/pst/inspect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace parvelle::pst;
using parvelle::pst_read_test::genuineFile;
using parvelle::pst_read_test::readBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

NodeDatabase openBytes(const Bytes& bytes) {
    auto db = NodeDatabase::fromBytes(bytes);
    EXPECT_TRUE(db) << db.error();
    return std::move(*db);
}

std::string describe(const CheckReport& r) {
    std::string out;
    for (const Violation& v : r.violations)
        out += std::string(violationKindName(v.kind)) + ": " + v.where + ": " + v.message + "\n";
    return out;
}

bool reports(const CheckReport& r, ViolationKind kind) {
    return std::any_of(r.violations.begin(), r.violations.end(),
                       [&](const Violation& v) { return v.kind == kind; });
}

// The first leaf page of a B-tree, found by following first children.
std::uint64_t firstLeafPage(const NodeDatabase& db, const Bref& root) {
    const Format f = db.format();
    std::uint64_t ib = root.ib;
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* page = db.bytes().data() + ib;
        if (page[btPageInfoOffset(f) + 3] == 0)
            return ib;
        ib = f == Format::Unicode ? loadLe64(page + 16) : loadLe32(page + 8);
    }
    return ib;
}

void fixPage(Bytes& bytes, Format f, std::uint64_t ib) {
    const auto trailer =
        readPageTrailer(f, std::span<const std::uint8_t>(bytes).subspan(ib, kPageSize));
    writePageTrailer(f, std::span<std::uint8_t>(bytes).subspan(ib, kPageSize), trailer.ptype,
                     trailer.bid, ib);
}

void fixBlock(Bytes& bytes, Format f, const BbtEntry& b) {
    writeBlockTrailer(f, std::span<std::uint8_t>(bytes).subspan(b.bref.ib, blockTotalSize(f, b.cb)),
                      b.cb, b.bref.bid, b.bref.ib);
}

BbtEntry firstDataBlock(const NodeDatabase& db) {
    for (const BbtEntry& b : db.allBlocks()) {
        if (!bidIsInternal(b.bref.bid) && b.cb > 16)
            return b;
    }
    ADD_FAILURE() << "no data block";
    return {};
}

// Changes the node B-tree entry of `nid` in place (`change` gets the entry's bytes) and fixes
// the page's CRC; false when the node is not found.
bool patchNodeEntry(Bytes& bytes, const NodeDatabase& db, std::uint32_t nid,
                    const std::function<void(std::uint8_t*)>& change) {
    const Format f = db.format();
    std::function<bool(std::uint64_t, int)> visit = [&](std::uint64_t ib, int depth) {
        const std::uint8_t* page = bytes.data() + ib;
        const std::size_t count = page[btPageInfoOffset(f)];
        if (page[btPageInfoOffset(f) + 3] > 0) {
            for (std::size_t i = 0; i < count && depth < 8; ++i) {
                if (visit(loadId(f, page + i * btEntrySize(f) + 2 * idSize(f)), depth + 1))
                    return true;
            }
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t at = ib + i * nbtEntrySize(f);
            if (loadLe32(bytes.data() + at) == nid) {
                change(bytes.data() + at);
                fixPage(bytes, f, ib);
                return true;
            }
        }
        return false;
    };
    return visit(db.header().nbt.ib, 0);
}

void rewriteHeader(Bytes& bytes, const std::function<void(Header&)>& change) {
    Header h = *parseHeader(bytes).header;
    change(h);
    writeHeader(h, bytes);
}

struct Damage {
    const char* name;
    ViolationKind expected;
    std::function<void(Bytes&, const NodeDatabase&)> apply;
};

const Damage kDamages[] = {
    {"BlockCrcField", ViolationKind::BlockCrc,
     [](Bytes& bytes, const NodeDatabase& db) {
         const BbtEntry b = firstDataBlock(db);
         const auto& L = blockTrailerLayout(db.format());
         bytes[b.bref.ib + blockTotalSize(db.format(), b.cb) - L.size + L.dwCRC] ^= 0x01;
     }},
    {"BlockData", ViolationKind::BlockCrc,
     [](Bytes& bytes, const NodeDatabase& db) { bytes[firstDataBlock(db).bref.ib + 3] ^= 0x40; }},
    {"BlockSignature", ViolationKind::BlockTrailer,
     [](Bytes& bytes, const NodeDatabase& db) {
         const BbtEntry b = firstDataBlock(db);
         const auto& L = blockTrailerLayout(db.format());
         bytes[b.bref.ib + blockTotalSize(db.format(), b.cb) - L.size + L.wSig] ^= 0x10;
     }},
    {"PageSignature", ViolationKind::PageTrailer,
     [](Bytes& bytes, const NodeDatabase& db) {
         const auto& L = pageTrailerLayout(db.format());
         bytes[db.header().nbt.ib + kPageSize - L.size + L.wSig] ^= 0x01;
     }},
    {"PageData", ViolationKind::PageCrc,
     [](Bytes& bytes, const NodeDatabase& db) {
         bytes[firstLeafPage(db, db.header().bbt) + idSize(db.format()) * 2] ^= 0x01;
     }},
    {"HeaderCrc", ViolationKind::Header,
     [](Bytes& bytes, const NodeDatabase& db) {
         bytes[headerLayout(db.format()).rgbFM + 5] ^= 0x01;
     }},
    {"Truncated", ViolationKind::Header,
     [](Bytes& bytes, const NodeDatabase&) { bytes.erase(bytes.end() - 64 * 1024, bytes.end()); }},
    {"RefCount", ViolationKind::RefCount,
     [](Bytes& bytes, const NodeDatabase& db) {
         const Format f = db.format();
         const std::uint64_t leaf = firstLeafPage(db, db.header().bbt);
         bytes[leaf + 2 * idSize(f) + 2] += 1; // cRef of the first entry
         fixPage(bytes, f, leaf);
     }},
    {"AllocationBitCleared", ViolationKind::AllocationMap,
     [](Bytes& bytes, const NodeDatabase& db) {
         const Format f = db.format();
         const BbtEntry b = firstDataBlock(db);
         const std::uint64_t slot = (b.bref.ib - kFirstAMapOffset) / kAMapSlotBytes;
         bytes[kFirstAMapOffset + mapBitmapOffset(f) + slot / 8] &=
             static_cast<std::uint8_t>(~(0x80 >> (slot % 8)));
         fixPage(bytes, f, kFirstAMapOffset);
     }},
    {"NodeCounterBehind", ViolationKind::Header,
     [](Bytes& bytes, const NodeDatabase&) {
         rewriteHeader(bytes, [](Header& h) { h.rgnid[kNidTypeNormalFolder] -= 1; });
     }},
    {"BlockCounterBehind", ViolationKind::Header,
     [](Bytes& bytes, const NodeDatabase&) {
         rewriteHeader(bytes, [](Header& h) { h.bidNextB -= kBidIncrement; });
     }},
    {"FreeSpaceTotal", ViolationKind::AllocationMap,
     [](Bytes& bytes, const NodeDatabase&) {
         rewriteHeader(bytes, [](Header& h) { h.cbAMapFree += 64; });
     }},
    {"KeysOutOfOrder", ViolationKind::BTree,
     [](Bytes& bytes, const NodeDatabase& db) {
         const Format f = db.format();
         const std::uint64_t leaf = firstLeafPage(db, db.header().nbt);
         const std::size_t size = nbtEntrySize(f);
         std::swap_ranges(bytes.begin() + static_cast<long>(leaf),
                          bytes.begin() + static_cast<long>(leaf + size),
                          bytes.begin() + static_cast<long>(leaf + size));
         fixPage(bytes, f, leaf);
     }},
    {"MandatoryNodeMissing", ViolationKind::MandatoryNode,
     [](Bytes& bytes, const NodeDatabase& db) {
         // Renumber the message store node 0x21 to 0x20, which keeps the leaf in order.
         EXPECT_TRUE(patchNodeEntry(bytes, db, kNidMessageStore,
                                    [](std::uint8_t* e) { storeLe32(e, 0x20); }));
     }},
    {"MissingBlock", ViolationKind::MissingBlock,
     [](Bytes& bytes, const NodeDatabase& db) {
         EXPECT_TRUE(patchNodeEntry(bytes, db, kNidNameToIdMap, [&](std::uint8_t* e) {
             storeId(db.format(), e + idSize(db.format()), db.header().bidNextB + 0x100);
         }));
     }},
    {"SubnodeTreeAsData", ViolationKind::DataTree,
     [](Bytes& bytes, const NodeDatabase& db) {
         // A node whose data names its own subnode tree.
         for (const NbtEntry& node : db.allNodes()) {
             if (node.bidSub == 0)
                 continue;
             EXPECT_TRUE(patchNodeEntry(bytes, db, node.nid, [&](std::uint8_t* e) {
                 storeId(db.format(), e + idSize(db.format()), node.bidSub);
             }));
             return;
         }
         ADD_FAILURE() << "no node with subnodes";
     }},
    {"HeapSignature", ViolationKind::Heap,
     [](Bytes& bytes, const NodeDatabase& db) {
         const auto node = db.findNode(kNidMessageStore);
         const auto b = db.findBlock(node->bidData);
         std::span<std::uint8_t> data(bytes.data() + b->bref.ib, b->cb);
         decodeBlock(db.header().crypt, data, b->bref.bid);
         data[2] = 0xED;
         encodeBlock(db.header().crypt, data, b->bref.bid);
         fixBlock(bytes, db.format(), *b);
     }},
    {"ColumnBitOutsideBitmap", ViolationKind::TableContext,
     [](Bytes& bytes, const NodeDatabase& db) {
         // Point the first column of the root folder's hierarchy table just past its existence
         // bitmap.
         const auto node = db.findNode(makeNid(kNidTypeHierarchyTable, nidIndex(kNidRootFolder)));
         const auto context = openNodeContext(db, {node->bidData, node->bidSub});
         ASSERT_TRUE(context);
         const std::uint32_t root = context->heap.userRoot();
         ASSERT_EQ(hidBlockIndex(root), 0u);
         const std::size_t info = context->heap.maps()[0].rgibAlloc[hidIndex(root) - 1];
         const auto b = db.findBlock(node->bidData);
         std::span<std::uint8_t> data(bytes.data() + b->bref.ib, b->cb);
         decodeBlock(db.header().crypt, data, b->bref.bid);
         // iBit of the first column: the first bit after the bitmap's last byte.
         const std::size_t columns = data[info + 1];
         data[info + kTcInfoSize + 7] = static_cast<std::uint8_t>((columns + 7) / 8 * 8);
         encodeBlock(db.header().crypt, data, b->bref.bid);
         fixBlock(bytes, db.format(), *b);
     }},
    {"ContentCount", ViolationKind::Hierarchy,
     [](Bytes& bytes, const NodeDatabase& db) {
         // PidTagContentCount (0x3602, PtypInteger32) is stored inline in the folder's property
         // B-tree: key 02 36, type 03 00, then the value. Raise a count of 1 to 2.
         const std::uint8_t record[] = {0x02, 0x36, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00};
         for (const NbtEntry& node : db.allNodes()) {
             if (nidType(node.nid) != kNidTypeNormalFolder)
                 continue;
             const auto b = db.findBlock(node.bidData);
             std::span<std::uint8_t> data(bytes.data() + b->bref.ib, b->cb);
             decodeBlock(db.header().crypt, data, b->bref.bid);
             const auto at =
                 std::search(data.begin(), data.end(), std::begin(record), std::end(record));
             if (at != data.end())
                 at[4] = 2;
             encodeBlock(db.header().crypt, data, b->bref.bid);
             if (at != data.end()) {
                 fixBlock(bytes, db.format(), *b);
                 return;
             }
         }
         ADD_FAILURE() << "no folder with one message";
     }},
    {"FolderParent", ViolationKind::Hierarchy,
     [](Bytes& bytes, const NodeDatabase& db) {
         // Move one folder under the root folder without updating any hierarchy table.
         for (const NbtEntry& node : db.allNodes()) {
             if (nidType(node.nid) != kNidTypeNormalFolder || node.nidParent == kNidRootFolder ||
                 node.nid == kNidRootFolder)
                 continue;
             EXPECT_TRUE(patchNodeEntry(bytes, db, node.nid, [&](std::uint8_t* e) {
                 storeLe32(e + 3 * idSize(db.format()), kNidRootFolder);
             }));
             return;
         }
         ADD_FAILURE() << "no folder to move";
     }},
};

struct DamageCase {
    const char* file;
    const Damage* damage;
};

std::vector<DamageCase> damageCases() {
    std::vector<DamageCase> cases;
    for (const char* file : {"pstsdk-test_unicode.pst", "pstsdk-test_ansi.pst"}) {
        for (const Damage& d : kDamages)
            cases.push_back({file, &d});
    }
    return cases;
}

class DamagedFiles : public testing::TestWithParam<DamageCase> {};

} // namespace

TEST(PstChecker, GenuineFilesCheckClean) {
    const auto any = genuineFile("pstsdk-sample1.pst");
    if (!any)
        GTEST_SKIP() << "third-party samples not present";
    int checked = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(*any).parent_path())) {
        if (entry.path().extension() != ".pst")
            continue;
        const auto db = NodeDatabase::open(entry.path().string());
        ASSERT_TRUE(db) << db.error();
        const CheckReport report = checkStore(*db);
        EXPECT_TRUE(report.clean()) << entry.path() << "\n" << describe(report);
        EXPECT_GT(report.blocks, 0u);
        EXPECT_GT(report.nodes, 0u);
        ++checked;
    }
    EXPECT_GE(checked, 17);
}

TEST_P(DamagedFiles, ReportTheirKindOfViolation) {
    const auto path = genuineFile(GetParam().file);
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    Bytes bytes = readBytes(*path);
    {
        const NodeDatabase db = openBytes(bytes);
        ASSERT_TRUE(checkStore(db).clean());
        GetParam().damage->apply(bytes, db);
    }
    const auto damaged = NodeDatabase::fromBytes(bytes);
    ASSERT_TRUE(damaged) << damaged.error();
    const CheckReport report = checkStore(*damaged);
    EXPECT_TRUE(reports(report, GetParam().damage->expected))
        << "expected " << violationKindName(GetParam().damage->expected) << "\n"
        << describe(report);
}

INSTANTIATE_TEST_SUITE_P(Samples, DamagedFiles, testing::ValuesIn(damageCases()),
                         [](const testing::TestParamInfo<DamageCase>& info) {
                             return std::string(info.param.damage->name) +
                                    (std::string(info.param.file).find("ansi") != std::string::npos
                                         ? "_Ansi"
                                         : "_Unicode");
                         });

namespace {

// Re-encodes every external block of a file with another method, as a writer choosing that
// method would have stored it.
Bytes reencode(const Bytes& original, CryptMethod target) {
    Bytes bytes = original;
    const NodeDatabase db = openBytes(original);
    for (const BbtEntry& b : db.allBlocks()) {
        if (bidIsInternal(b.bref.bid))
            continue;
        std::span<std::uint8_t> data(bytes.data() + b.bref.ib, b.cb);
        decodeBlock(db.header().crypt, data, b.bref.bid);
        encodeBlock(target, data, b.bref.bid);
        fixBlock(bytes, db.format(), b);
    }
    rewriteHeader(bytes, [&](Header& h) { h.crypt = target; });
    return bytes;
}

std::string summaryWithoutEncoding(const PstReader& reader) {
    const auto summary = inspectStore(reader, true);
    EXPECT_TRUE(summary);
    StoreSummary s = *summary;
    s.encryption = CryptMethod::None;
    return summaryToJson(s, true);
}

} // namespace

TEST(PstChecker, OtherEncodingsReadAndCheckTheSame) {
    for (const char* file : {"aspose-Outlook_1.pst", "pstsdk-sample2.pst"}) {
        const auto path = genuineFile(file);
        if (!path)
            GTEST_SKIP() << "third-party samples not present";
        const Bytes original = readBytes(*path);
        const auto reader = PstReader::fromBytes(original);
        ASSERT_TRUE(reader);
        const std::string expected = summaryWithoutEncoding(*reader);
        for (CryptMethod method : {CryptMethod::None, CryptMethod::Cyclic}) {
            const Bytes bytes = reencode(original, method);
            ASSERT_NE(bytes, original);
            const auto db = NodeDatabase::fromBytes(bytes);
            ASSERT_TRUE(db);
            EXPECT_EQ(db->header().crypt, method);
            const CheckReport report = checkStore(*db);
            EXPECT_TRUE(report.clean()) << file << "\n" << describe(report);
            const auto again = PstReader::fromBytes(bytes);
            ASSERT_TRUE(again);
            EXPECT_EQ(summaryWithoutEncoding(*again), expected) << file;
        }
    }
}

TEST(PstChecker, GarbageAfterTheHeaderIsReportedNotFatal) {
    const auto path = genuineFile("pstsdk-test_unicode.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    Bytes bytes = readBytes(*path);
    std::fill(bytes.begin() + 0x4400, bytes.end(), std::uint8_t{0x5A});
    const auto db = NodeDatabase::fromBytes(bytes);
    ASSERT_TRUE(db);
    const CheckReport report = checkStore(*db);
    EXPECT_TRUE(reports(report, ViolationKind::BTree) ||
                reports(report, ViolationKind::PageTrailer));
    EXPECT_TRUE(reports(report, ViolationKind::AllocationMap));
    EXPECT_TRUE(reports(report, ViolationKind::MandatoryNode));
}
