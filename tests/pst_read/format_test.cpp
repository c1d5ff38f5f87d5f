// The shared on-disk helpers: CRC, signatures, encodings, header layout and block sizes, checked
// against known values and against the headers of genuine Outlook files.
#include "store/pst/format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string_view>
#include <vector>

using namespace parvelle::pst;

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(PstFormat, CrcMatchesStoredPasswordChecksums) {
    // PidTagPstPassword holds the CRC of the password; the fixtures' documented values.
    EXPECT_EQ(computeCrc(bytesOf("test")), 0xF93BA110u);
    EXPECT_EQ(computeCrc(bytesOf("Password1")), 0x11A89DA7u);
    EXPECT_EQ(computeCrc(bytesOf("user1")), 0x4A737248u);
    EXPECT_EQ(computeCrc({}), 0u);
    // Continuing a CRC equals computing it at once.
    EXPECT_EQ(computeCrc(bytesOf("word1"), computeCrc(bytesOf("Pass"))),
              computeCrc(bytesOf("Password1")));
}

TEST(PstFormat, CrcOfBlockSizedDataMatchesTheBitwiseDefinition) {
    // Fast CRC routines take other paths for long data (folding many bytes at a time) than for
    // the short strings above; blocks and pages are long. Reference: one bit at a time,
    // polynomial 0xEDB88320, register neither inverted on entry nor on exit.
    auto bitwise = [](std::span<const std::uint8_t> bytes, std::uint32_t crc) {
        for (std::uint8_t b : bytes) {
            crc ^= b;
            for (int i = 0; i < 8; ++i)
                crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
        }
        return crc;
    };
    std::vector<std::uint8_t> data(8192 + 13);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 7));
    for (std::size_t size : {1u, 15u, 63u, 64u, 65u, 496u, 500u, 8176u, 8205u})
        for (std::uint32_t seed : {0u, 0xFFFFFFFFu, 0x1234ABCDu}) {
            const auto bytes = std::span(data).first(size);
            EXPECT_EQ(computeCrc(bytes, seed), bitwise(bytes, seed)) << size << " bytes";
        }
}

TEST(PstFormat, SignatureFoldsOffsetAndId) {
    // Values read from the NBT root pages of pstsdk-sample1.pst and tghanem-user1_test.lab.pst.
    EXPECT_EQ(computeSignature(0x9A00, 0x4DB), 0x9EDB);
    EXPECT_EQ(computeSignature(0xFA00, 0x225B), 0xD85B);
    // Only the low 32 bits take part.
    EXPECT_EQ(computeSignature(0x12345678ABCDull, 0), static_cast<std::uint16_t>(0x5678 ^ 0xABCD));
}

TEST(PstFormat, PermuteRoundTripsAndMatchesTable) {
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    auto encoded = all;
    permuteEncode(encoded);
    EXPECT_EQ(encoded[0x00], 0x41);
    EXPECT_EQ(encoded[0xFF], 0x3D);
    EXPECT_NE(encoded, all);
    permuteDecode(encoded);
    EXPECT_EQ(encoded, all);
}

TEST(PstFormat, PermuteOfLongRunsMatchesByteByByte) {
    // Long runs take the vector path where the processor has one; single bytes never do.
    for (std::size_t size : {1u, 63u, 64u, 65u, 200u, 8176u}) {
        std::vector<std::uint8_t> data(size);
        std::uint32_t seed = 0x9E3779B9u * static_cast<std::uint32_t>(size);
        for (auto& b : data) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(seed >> 24);
        }
        auto whole = data;
        permuteEncode(whole);
        for (std::size_t i = 0; i < size; ++i) {
            std::uint8_t one = data[i];
            permuteEncode(std::span(&one, 1));
            ASSERT_EQ(whole[i], one) << "size " << size << " at " << i;
        }
        permuteDecode(whole);
        EXPECT_EQ(whole, data) << "size " << size;
    }
}

TEST(PstFormat, CyclicIsItsOwnInverseAndDependsOnKey) {
    std::vector<std::uint8_t> data(1000);
    std::iota(data.begin(), data.end(), 7);
    auto a = data, b = data;
    cyclicCrypt(a, 0x12345);
    cyclicCrypt(b, 0x12349);
    EXPECT_NE(a, data);
    EXPECT_NE(a, b);
    cyclicCrypt(a, 0x12345);
    EXPECT_EQ(a, data);
    encodeBlock(CryptMethod::Cyclic, b, 0x12349);
    EXPECT_EQ(b, data);
    encodeBlock(CryptMethod::None, b, 4);
    EXPECT_EQ(b, data);
}

TEST(PstFormat, BlockSizesRoundToSixtyFourWithTrailer) {
    EXPECT_EQ(blockTotalSize(Format::Unicode, 0), 64u);
    EXPECT_EQ(blockTotalSize(Format::Unicode, 48), 64u);
    EXPECT_EQ(blockTotalSize(Format::Unicode, 49), 128u);
    EXPECT_EQ(blockTotalSize(Format::Ansi, 52), 64u);
    EXPECT_EQ(blockTotalSize(Format::Ansi, 53), 128u);
    EXPECT_EQ(maxBlockDataSize(Format::Unicode), 8176u);
    EXPECT_EQ(maxBlockDataSize(Format::Ansi), 8180u);
    EXPECT_EQ(blockTotalSize(Format::Unicode, 8176), 8192u);
    EXPECT_EQ(maxDataTreeEntries(Format::Unicode), 1021u);
}

TEST(PstFormat, BlockTrailerRoundTrips) {
    for (Format f : {Format::Unicode, Format::Ansi}) {
        std::vector<std::uint8_t> block(blockTotalSize(f, 100), 0);
        std::iota(block.begin(), block.begin() + 100, 1);
        writeBlockTrailer(f, block, 100, 0x1234, 0x8000);
        const auto t = readBlockTrailer(f, std::span<const std::uint8_t>(block).subspan(
                                               block.size() - blockTrailerLayout(f).size));
        EXPECT_EQ(t.cb, 100);
        EXPECT_EQ(t.bid, 0x1234u);
        EXPECT_EQ(t.wSig, computeSignature(0x8000, 0x1234));
        EXPECT_EQ(t.dwCRC, computeCrc(std::span<const std::uint8_t>(block).first(100)));
    }
}

TEST(PstFormat, MapPagesStackAtTheirIntervals) {
    EXPECT_EQ(amapOffset(0), 0x4400u);
    EXPECT_EQ(amapOffset(1), 0x4400u + 253952u);
    auto first = mapPagesOfInterval(0);
    ASSERT_EQ(first.count, 2u);
    EXPECT_EQ(first.pages[1].first, PageType::PMap);
    EXPECT_EQ(first.pages[1].second, 0x4600u);
    EXPECT_EQ(mapPagesOfInterval(1).count, 1u);
    auto fmap = mapPagesOfInterval(128);
    ASSERT_EQ(fmap.count, 3u);
    EXPECT_EQ(fmap.pages[2].first, PageType::FMap);
    EXPECT_EQ(fmap.pages[2].second, amapOffset(128) + 1024);
    EXPECT_EQ(mapPagesOfInterval(128 + 496).count, 3u);
    auto fpmap = mapPagesOfInterval(8192);
    ASSERT_EQ(fpmap.count, 3u);
    EXPECT_EQ(fpmap.pages[2].first, PageType::FPMap);
}

TEST(PstFormat, HeaderWriteThenParseRoundTrips) {
    for (Format f : {Format::Unicode, Format::Ansi}) {
        Header h;
        h.format = f;
        h.wVer = f == Format::Unicode ? kVerUnicode : kVerAnsi;
        h.crypt = CryptMethod::Cyclic;
        h.bidNextB = 0x104;
        h.bidNextP = 0x20;
        h.dwUnique = 9;
        h.rgnid[kNidTypeNormalFolder] = 0x400;
        h.ibFileEof = 0x4400 + 253952;
        h.ibAMapLast = 0x4400;
        h.cbAMapFree = 1000 * 64;
        h.nbt = {0x10, 0x4800};
        h.bbt = {0x14, 0x4A00};
        h.fAMapValid = kAMapValid2;
        h.rgbFM.fill(0xFF);
        std::vector<std::uint8_t> bytes(headerLayout(f).size, 0);
        writeHeader(h, bytes);
        const auto parsed = parseHeader(bytes);
        ASSERT_TRUE(parsed.header);
        const Header& p = *parsed.header;
        EXPECT_EQ(p.format, f);
        EXPECT_EQ(p.crypt, CryptMethod::Cyclic);
        EXPECT_EQ(p.bidNextB, 0x104u);
        EXPECT_EQ(p.nbt, h.nbt);
        EXPECT_EQ(p.bbt, h.bbt);
        EXPECT_EQ(p.rgnid[kNidTypeNormalFolder], 0x400u);
        EXPECT_EQ(p.dwCRCPartial, headerCrcPartial(bytes));
        EXPECT_EQ(p.rgbFM, h.rgbFM);
    }
}

TEST(PstFormat, HeaderRejectsOtherFiles) {
    std::vector<std::uint8_t> zip(600, 0);
    zip[0] = 'P';
    zip[1] = 'K';
    EXPECT_EQ(parseHeader(zip).error, HeaderError::BadMagic);
    EXPECT_EQ(parseHeader(std::span<const std::uint8_t>(zip).first(10)).error,
              HeaderError::TooShort);
}

TEST(PstFormat, GenuineHeadersCarryMatchingCrcs) {
    const std::filesystem::path dir = PARVELLE_THIRD_PARTY_DIR "/pst";
    if (!std::filesystem::exists(dir))
        GTEST_SKIP() << "third-party samples not present";
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".pst")
            continue;
        const auto bytes = readFile(entry.path());
        const auto parsed = parseHeader(bytes);
        ASSERT_TRUE(parsed.header) << entry.path();
        EXPECT_EQ(parsed.header->dwCRCPartial, headerCrcPartial(bytes)) << entry.path();
        if (parsed.header->format == Format::Unicode) {
            EXPECT_EQ(parsed.header->dwCRCFull, headerCrcFull(bytes)) << entry.path();
        }
        const auto& nbt = parsed.header->nbt;
        const auto page = std::span<const std::uint8_t>(bytes).subspan(nbt.ib, kPageSize);
        const auto trailer = readPageTrailer(parsed.header->format, page);
        EXPECT_EQ(trailer.ptype, PageType::NBT);
        EXPECT_EQ(trailer.bid, nbt.bid);
        EXPECT_EQ(trailer.wSig, computeSignature(nbt.ib, nbt.bid));
        EXPECT_EQ(trailer.dwCRC, computeCrc(page.first(pageDataSize(parsed.header->format))));
        ++seen;
    }
    EXPECT_GT(seen, 0);
}
