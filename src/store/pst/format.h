#pragma once
// On-disk facts of the PST format (MS-PST) shared by the reader, the checker and the writer:
// constants, the header's field layout for Unicode and ANSI files, page and block trailers,
// block size rounding, the format's CRC-32, block signatures and the two block encodings.
//
// Every multi-byte value in a PST file is little-endian. Field offsets here are byte offsets from
// the start of the structure they belong to; "U" and "A" name the Unicode and ANSI variants.
// Nothing in this header allocates or performs I/O.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace parvelle::pst {

// ---------------------------------------------------------------------------------------------
// Little-endian access. Callers guarantee the bounds (the spans they pass are long enough).

inline std::uint16_t loadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t loadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t loadLe64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(loadLe32(p)) |
           (static_cast<std::uint64_t>(loadLe32(p + 4)) << 32);
}
inline void storeLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void storeLe64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// ---------------------------------------------------------------------------------------------
// File format and encoding

// Unicode files use 64-bit block ids and offsets, ANSI files (Outlook 97-2002) 32-bit ones.
enum class Format : std::uint8_t { Ansi, Unicode };

// bCryptMethod: how the data of external blocks is encoded. Internal blocks (data trees,
// subnode trees) and pages are never encoded.
enum class CryptMethod : std::uint8_t { None = 0x00, Permute = 0x01, Cyclic = 0x02 };

// Size of block ids and file offsets: 8 bytes (Unicode) or 4 bytes (ANSI).
constexpr std::size_t idSize(Format f) {
    return f == Format::Unicode ? 8 : 4;
}
// A block id or file offset of idSize(f) bytes.
inline std::uint64_t loadId(Format f, const std::uint8_t* p) {
    return f == Format::Unicode ? loadLe64(p) : loadLe32(p);
}
inline void storeId(Format f, std::uint8_t* p, std::uint64_t v) {
    if (f == Format::Unicode)
        storeLe64(p, v);
    else
        storeLe32(p, static_cast<std::uint32_t>(v));
}

// ---------------------------------------------------------------------------------------------
// Header (at file offset 0)

constexpr std::uint32_t kHeaderMagic = 0x4E444221; // dwMagic "!BDN"
constexpr std::uint16_t kClientMagicPst = 0x4D53;  // wMagicClient "SM"
constexpr std::uint16_t kClientMagicOst = 0x4F53;  // wMagicClient "SO" (offline store)
constexpr std::uint16_t kVerAnsiMin = 14;          // wVer: ANSI
constexpr std::uint16_t kVerAnsi = 15;             // wVer: ANSI, current
constexpr std::uint16_t kVerUnicodeMin = 20;       // wVer: first Unicode value
constexpr std::uint16_t kVerUnicode = 23;          // wVer: Unicode, current
constexpr std::uint16_t kVerUnicode4k = 36;        // wVer: Unicode with 4 KB pages (OST)
constexpr std::uint16_t kVerClient = 19;           // wVerClient for PST files
constexpr std::uint8_t kPlatform = 0x01;           // bPlatformCreate / bPlatformAccess
constexpr std::uint8_t kSentinel = 0x80;           // bSentinel
constexpr std::size_t kNidCounterCount = 32;       // rgnid[]: one counter per NID type
constexpr std::size_t kHeaderFreeMapBytes = 128;   // rgbFM[] and rgbFP[] sizes
// Both header CRCs start at wMagicClient; dwCRCPartial covers 471 bytes, dwCRCFull (Unicode
// only) 516 bytes.
constexpr std::size_t kHeaderCrcStart = 8;
constexpr std::size_t kHeaderCrcPartialLength = 471;
constexpr std::size_t kHeaderCrcFullLength = 516;

// fAMapValid values.
constexpr std::uint8_t kAMapInvalid = 0x00;
constexpr std::uint8_t kAMapValid1 = 0x01; // written by clients before Outlook 2007 SP2
constexpr std::uint8_t kAMapValid2 = 0x02;

// Field offsets of the HEADER and its embedded ROOT. A field absent in one variant has the
// offset kNoField.
struct HeaderLayout {
    static constexpr std::size_t kNoField = static_cast<std::size_t>(-1);
    std::size_t size; // bytes of the header structure
    std::size_t dwMagic, dwCRCPartial, wMagicClient, wVer, wVerClient, bPlatformCreate,
        bPlatformAccess, dwReserved1, dwReserved2;
    std::size_t bidUnused; // Unicode only
    std::size_t bidNextP, bidNextB, dwUnique, rgnid;
    std::size_t qwUnused; // Unicode only
    // ROOT
    std::size_t root, ibFileEof, ibAMapLast, cbAMapFree, cbPMapFree, brefNbtBid, brefNbtIb,
        brefBbtBid, brefBbtIb, fAMapValid;
    std::size_t rgbFM, rgbFP, bSentinel, bCryptMethod;
    std::size_t dwCRCFull; // Unicode only
};

inline constexpr HeaderLayout kUnicodeHeader{.size = 564,
                                             .dwMagic = 0,
                                             .dwCRCPartial = 4,
                                             .wMagicClient = 8,
                                             .wVer = 10,
                                             .wVerClient = 12,
                                             .bPlatformCreate = 14,
                                             .bPlatformAccess = 15,
                                             .dwReserved1 = 16,
                                             .dwReserved2 = 20,
                                             .bidUnused = 24,
                                             .bidNextP = 32,
                                             .bidNextB = 516,
                                             .dwUnique = 40,
                                             .rgnid = 44,
                                             .qwUnused = 172,
                                             .root = 180,
                                             .ibFileEof = 184,
                                             .ibAMapLast = 192,
                                             .cbAMapFree = 200,
                                             .cbPMapFree = 208,
                                             .brefNbtBid = 216,
                                             .brefNbtIb = 224,
                                             .brefBbtBid = 232,
                                             .brefBbtIb = 240,
                                             .fAMapValid = 248,
                                             .rgbFM = 256,
                                             .rgbFP = 384,
                                             .bSentinel = 512,
                                             .bCryptMethod = 513,
                                             .dwCRCFull = 524};

inline constexpr HeaderLayout kAnsiHeader{.size = 512,
                                          .dwMagic = 0,
                                          .dwCRCPartial = 4,
                                          .wMagicClient = 8,
                                          .wVer = 10,
                                          .wVerClient = 12,
                                          .bPlatformCreate = 14,
                                          .bPlatformAccess = 15,
                                          .dwReserved1 = 16,
                                          .dwReserved2 = 20,
                                          .bidUnused = HeaderLayout::kNoField,
                                          .bidNextP = 28,
                                          .bidNextB = 24,
                                          .dwUnique = 32,
                                          .rgnid = 36,
                                          .qwUnused = HeaderLayout::kNoField,
                                          .root = 164,
                                          .ibFileEof = 168,
                                          .ibAMapLast = 172,
                                          .cbAMapFree = 176,
                                          .cbPMapFree = 180,
                                          .brefNbtBid = 184,
                                          .brefNbtIb = 188,
                                          .brefBbtBid = 192,
                                          .brefBbtIb = 196,
                                          .fAMapValid = 200,
                                          .rgbFM = 204,
                                          .rgbFP = 332,
                                          .bSentinel = 460,
                                          .bCryptMethod = 461,
                                          .dwCRCFull = HeaderLayout::kNoField};

constexpr const HeaderLayout& headerLayout(Format f) {
    return f == Format::Unicode ? kUnicodeHeader : kAnsiHeader;
}

// Block reference: a block or page id with its file offset.
struct Bref {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
    friend bool operator==(const Bref&, const Bref&) = default;
};

// The header fields that matter to readers and writers, widened to 64 bits.
struct Header {
    Format format = Format::Unicode;
    std::uint16_t wVer = kVerUnicode;
    std::uint16_t wVerClient = kVerClient;
    std::uint16_t wMagicClient = kClientMagicPst;
    CryptMethod crypt = CryptMethod::None;
    std::uint32_t dwCRCPartial = 0;
    std::uint32_t dwCRCFull = 0; // Unicode only
    std::uint64_t bidNextP = 0;
    std::uint64_t bidNextB = 0;
    std::uint32_t dwUnique = 0;
    std::array<std::uint32_t, kNidCounterCount> rgnid{};
    std::uint64_t ibFileEof = 0;
    std::uint64_t ibAMapLast = 0;
    std::uint64_t cbAMapFree = 0;
    std::uint64_t cbPMapFree = 0;
    Bref nbt;
    Bref bbt;
    std::uint8_t fAMapValid = kAMapInvalid;
    std::array<std::uint8_t, kHeaderFreeMapBytes> rgbFM{};
    std::array<std::uint8_t, kHeaderFreeMapBytes> rgbFP{};
};

// Why a header could not be parsed.
enum class HeaderError : std::uint8_t {
    TooShort,       // fewer bytes than the header needs
    BadMagic,       // dwMagic is not "!BDN"
    BadClientMagic, // wMagicClient is neither "SM" nor "SO"
    UnknownVersion, // wVer is not an ANSI or Unicode 512-byte-page value
    BadCryptMethod, // bCryptMethod is not 0, 1 or 2
};

struct HeaderParse {
    std::optional<Header> header;
    HeaderError error = HeaderError::TooShort;
};

// Determines the format from wVer: 14/15 ANSI, 20..23 Unicode; anything else (including the
// 4 KB-page OST value 36) is not a format this engine reads.
std::optional<Format> formatFromVersion(std::uint16_t wVer);

// Parses the header from the first bytes of a file. CRCs are read but not verified (the checker
// reports them; a reader may still open a file with a stale header CRC).
HeaderParse parseHeader(std::span<const std::uint8_t> bytes);

// Writes every field of `h` into `out` (at least headerLayout(h.format).size bytes), recomputes
// dwCRCPartial (and dwCRCFull for Unicode) and stores them back into `h`. Fields this struct
// does not carry (reserved bytes, rgbReserved3, ...) keep whatever `out` holds, so a writer
// updating an existing header passes the bytes it read.
void writeHeader(Header& h, std::span<std::uint8_t> out);

// The two header CRCs computed from header bytes.
std::uint32_t headerCrcPartial(std::span<const std::uint8_t> header);
std::uint32_t headerCrcFull(std::span<const std::uint8_t> header); // Unicode only

// ---------------------------------------------------------------------------------------------
// Pages (512 bytes, aligned on 512 in the file)

constexpr std::size_t kPageSize = 512;

// ptype values in the page trailer.
enum class PageType : std::uint8_t {
    BBT = 0x80,   // block B-tree page
    NBT = 0x81,   // node B-tree page
    FMap = 0x82,  // free map
    PMap = 0x83,  // page map
    AMap = 0x84,  // allocation map
    FPMap = 0x85, // free page map
    DList = 0x86, // density list
};

// PAGETRAILER, at the end of every page:
//   Unicode (16 bytes): ptype, ptypeRepeat, wSig, dwCRC, bid(8)
//   ANSI    (12 bytes): ptype, ptypeRepeat, wSig, bid(4), dwCRC
// dwCRC covers the page bytes before the trailer. wSig is 0 for map pages (AMap, PMap, FMap,
// FPMap) and computeSignature(ib, bid) for B-tree and DList pages.
struct PageTrailerLayout {
    std::size_t size, ptype, ptypeRepeat, wSig, dwCRC, bid;
};
inline constexpr PageTrailerLayout kUnicodePageTrailer{16, 0, 1, 2, 4, 8};
inline constexpr PageTrailerLayout kAnsiPageTrailer{12, 0, 1, 2, 8, 4};
constexpr const PageTrailerLayout& pageTrailerLayout(Format f) {
    return f == Format::Unicode ? kUnicodePageTrailer : kAnsiPageTrailer;
}
// Bytes of a page before its trailer (the bytes its CRC covers): 496 or 500.
constexpr std::size_t pageDataSize(Format f) {
    return kPageSize - pageTrailerLayout(f).size;
}

struct PageTrailer {
    PageType ptype{};
    std::uint8_t ptypeRepeat = 0;
    std::uint16_t wSig = 0;
    std::uint32_t dwCRC = 0;
    std::uint64_t bid = 0;
};
// `page` is a whole 512-byte page.
PageTrailer readPageTrailer(Format f, std::span<const std::uint8_t> page);
// Fills the trailer of a whole 512-byte page: ptype twice, signature (0 for map pages), the CRC
// of the page data and the bid.
void writePageTrailer(Format f, std::span<std::uint8_t> page, PageType type, std::uint64_t bid,
                      std::uint64_t ib);
// True for the page types whose wSig is computed (B-tree and DList pages), false for maps.
constexpr bool pageHasSignature(PageType t) {
    return t == PageType::BBT || t == PageType::NBT || t == PageType::DList;
}

// B-tree pages (BTPAGE): entries from offset 0, then cEnt, cEntMax, cbEnt, cLevel at
// btPageInfoOffset(f) (488 Unicode / 496 ANSI), then (Unicode) 4 bytes of padding.
constexpr std::size_t btPageInfoOffset(Format f) {
    return f == Format::Unicode ? 488 : 496;
}
// Entry sizes: BTENTRY (intermediate pages), BBTENTRY and NBTENTRY (leaves).
//   BTENTRY  U: btkey(8) BREF(16)                               A: btkey(4) BREF(8)
//   BBTENTRY U: BREF(16) cb(2) cRef(2) dwPadding(4)             A: BREF(8) cb(2) cRef(2)
//   NBTENTRY U: nid(8, upper 4 bytes 0) bidData(8) bidSub(8) nidParent(4) dwPadding(4)
//            A: nid(4) bidData(4) bidSub(4) nidParent(4)
constexpr std::size_t btEntrySize(Format f) {
    return f == Format::Unicode ? 24 : 12;
}
constexpr std::size_t bbtEntrySize(Format f) {
    return f == Format::Unicode ? 24 : 12;
}
constexpr std::size_t nbtEntrySize(Format f) {
    return f == Format::Unicode ? 32 : 16;
}
// cEntMax for a page holding entries of `entrySize` bytes.
constexpr std::size_t btMaxEntries(Format f, std::size_t entrySize) {
    return btPageInfoOffset(f) / entrySize;
}

// Allocation maps. Each AMap page maps the 253,952 bytes that start at the page itself, one bit
// per 64 bytes, most significant bit first. A PMap follows every 8th AMap (one bit per page).
// FMap pages (one byte per AMap) start after the 128 AMaps the header's rgbFM covers and repeat
// every 496 AMaps; FPMap pages (one bit per PMap) start after the 8192 AMaps rgbFP covers and
// repeat every 31,744 AMaps. Within an AMap's interval the map pages are stacked right after it:
// AMap, then PMap, then FMap, then FPMap, each only where due.
constexpr std::uint64_t kFirstAMapOffset = 0x4400;
constexpr std::uint64_t kDListOffset = 0x4200;
constexpr std::uint64_t kAMapSlotBytes = 64;
constexpr std::size_t kMapBitmapBytes = 496;
constexpr std::uint64_t kAMapCoverage = kMapBitmapBytes * 8 * kAMapSlotBytes; // 253,952
constexpr std::uint64_t kPMapEveryAMaps = 8;
constexpr std::uint64_t kFMapFirstAMap = 128;
constexpr std::uint64_t kFMapEveryAMaps = 496;
constexpr std::uint64_t kFPMapFirstAMap = 8192;
constexpr std::uint64_t kFPMapEveryAMaps = 496 * 8 * 8;
// Offset of the map bitmap inside an AMap/PMap/FMap/FPMap page: ANSI pages begin with 4 bytes
// of padding.
constexpr std::size_t mapBitmapOffset(Format f) {
    return f == Format::Unicode ? 0 : 4;
}

// File offset of the n-th AMap page (n from 0).
constexpr std::uint64_t amapOffset(std::uint64_t n) {
    return kFirstAMapOffset + n * kAMapCoverage;
}
constexpr bool amapHasPMap(std::uint64_t n) {
    return n % kPMapEveryAMaps == 0;
}
constexpr bool amapHasFMap(std::uint64_t n) {
    return n >= kFMapFirstAMap && (n - kFMapFirstAMap) % kFMapEveryAMaps == 0;
}
constexpr bool amapHasFPMap(std::uint64_t n) {
    return n >= kFPMapFirstAMap && (n - kFPMapFirstAMap) % kFPMapEveryAMaps == 0;
}
// The map pages of the n-th AMap interval, in file order, and how many there are (1 to 4).
struct MapPages {
    std::array<std::pair<PageType, std::uint64_t>, 4> pages{};
    std::size_t count = 0;
};
MapPages mapPagesOfInterval(std::uint64_t n);

// ---------------------------------------------------------------------------------------------
// Blocks (64-byte aligned, at most 8192 bytes including the trailer)

constexpr std::size_t kBlockAlignment = 64;
constexpr std::size_t kMaxBlockSize = 8192;

// BLOCKTRAILER, at the end of every block:
//   Unicode (16 bytes): cb(2), wSig(2), dwCRC(4), bid(8)
//   ANSI    (12 bytes): cb(2), wSig(2), bid(4), dwCRC(4)
// cb is the data size, dwCRC the CRC of those cb bytes as stored (after encoding), wSig
// computeSignature(ib, bid).
struct BlockTrailerLayout {
    std::size_t size, cb, wSig, dwCRC, bid;
};
inline constexpr BlockTrailerLayout kUnicodeBlockTrailer{16, 0, 2, 4, 8};
inline constexpr BlockTrailerLayout kAnsiBlockTrailer{12, 0, 2, 8, 4};
constexpr const BlockTrailerLayout& blockTrailerLayout(Format f) {
    return f == Format::Unicode ? kUnicodeBlockTrailer : kAnsiBlockTrailer;
}
// Largest data size of one block: 8176 (Unicode) or 8180 (ANSI).
constexpr std::size_t maxBlockDataSize(Format f) {
    return kMaxBlockSize - blockTrailerLayout(f).size;
}
// Bytes a block with `dataSize` bytes of data occupies in the file: data plus trailer rounded up
// to 64.
constexpr std::size_t blockTotalSize(Format f, std::size_t dataSize) {
    return (dataSize + blockTrailerLayout(f).size + kBlockAlignment - 1) / kBlockAlignment *
           kBlockAlignment;
}

struct BlockTrailer {
    std::uint16_t cb = 0;
    std::uint16_t wSig = 0;
    std::uint32_t dwCRC = 0;
    std::uint64_t bid = 0;
};
// `trailer` starts at the trailer (blockTotalSize(cb) - trailer size bytes into the block).
BlockTrailer readBlockTrailer(Format f, std::span<const std::uint8_t> trailer);
// Fills the trailer of a block whose first `dataSize` bytes hold its (already encoded) data;
// `block` is blockTotalSize(f, dataSize) bytes long. Padding bytes are left as they are.
void writeBlockTrailer(Format f, std::span<std::uint8_t> block, std::size_t dataSize,
                       std::uint64_t bid, std::uint64_t ib);

// Internal block headers. XBLOCK/XXBLOCK (btype 0x01, cLevel 1/2): btype, cLevel, cEnt(2),
// lcbTotal(4), then cEnt BIDs. SLBLOCK/SIBLOCK (btype 0x02, cLevel 0/1): btype, cLevel, cEnt(2),
// dwPadding(4, Unicode only), then SLENTRY {nid, bidData, bidSub} or SIENTRY {nid, bid}, each
// field idSize() bytes (the NID padded to 8 bytes in Unicode files).
constexpr std::uint8_t kBlockTypeData = 0x01;    // XBLOCK / XXBLOCK
constexpr std::uint8_t kBlockTypeSubnode = 0x02; // SLBLOCK / SIBLOCK
constexpr std::size_t kDataTreeHeaderSize = 8;
constexpr std::size_t subnodeHeaderSize(Format f) {
    return f == Format::Unicode ? 8 : 4;
}
constexpr std::size_t slEntrySize(Format f) {
    return 3 * idSize(f);
}
constexpr std::size_t siEntrySize(Format f) {
    return 2 * idSize(f);
}
// Most BIDs one XBLOCK/XXBLOCK holds: 1021 (Unicode) or 2043 (ANSI).
constexpr std::size_t maxDataTreeEntries(Format f) {
    return (maxBlockDataSize(f) - kDataTreeHeaderSize) / idSize(f);
}

// ---------------------------------------------------------------------------------------------
// Block ids (BID)
//
// Bit 0 is reserved (readers ignore it, writers write 0), bit 1 marks internal blocks (data and
// subnode trees), the rest is the index; a writer advances bidNextB by 4 per block. Page ids
// (bidNextP) are a separate counter in the same form.

constexpr std::uint64_t kBidInternalBit = 0x2;
constexpr std::uint64_t kBidIncrement = 4;
constexpr bool bidIsInternal(std::uint64_t bid) {
    return (bid & kBidInternalBit) != 0;
}
// The key blocks are looked up by in the block B-tree: the id without the reserved bit.
constexpr std::uint64_t bidKey(std::uint64_t bid) {
    return bid & ~std::uint64_t{1};
}

// ---------------------------------------------------------------------------------------------
// Node ids (NID): 5-bit type, 27-bit index.

constexpr std::uint32_t nidType(std::uint32_t nid) {
    return nid & 0x1F;
}
constexpr std::uint32_t nidIndex(std::uint32_t nid) {
    return nid >> 5;
}
constexpr std::uint32_t makeNid(std::uint32_t type, std::uint32_t index) {
    return (index << 5) | (type & 0x1F);
}

// nidType values.
enum NidType : std::uint32_t {
    kNidTypeHid = 0x00,
    kNidTypeInternal = 0x01,
    kNidTypeNormalFolder = 0x02,
    kNidTypeSearchFolder = 0x03,
    kNidTypeNormalMessage = 0x04,
    kNidTypeAttachment = 0x05,
    kNidTypeSearchUpdateQueue = 0x06,
    kNidTypeSearchCriteriaObject = 0x07,
    kNidTypeAssocMessage = 0x08,
    kNidTypeContentsTableIndex = 0x0A,
    kNidTypeReceiveFolderTable = 0x0B,
    kNidTypeOutgoingQueueTable = 0x0C,
    kNidTypeHierarchyTable = 0x0D,
    kNidTypeContentsTable = 0x0E,
    kNidTypeAssocContentsTable = 0x0F,
    kNidTypeSearchContentsTable = 0x10,
    kNidTypeAttachmentTable = 0x11,
    kNidTypeRecipientTable = 0x12,
    kNidTypeSearchTableIndex = 0x13,
    kNidTypeLtp = 0x1F,
};

// Well-known node ids.
enum WellKnownNid : std::uint32_t {
    kNidMessageStore = 0x21,
    kNidNameToIdMap = 0x61,
    kNidNormalFolderTemplate = 0xA1,
    kNidSearchFolderTemplate = 0xC1,
    kNidRootFolder = 0x122,
    kNidSearchManagementQueue = 0x1E1,
    kNidSearchActivityList = 0x201,
    kNidReserved1 = 0x241,
    kNidSearchDomainObject = 0x261,
    kNidSearchGathererQueue = 0x281,
    kNidSearchGathererDescriptor = 0x2A1,
    kNidReserved2 = 0x2E1,
    kNidReserved3 = 0x301,
    kNidSearchGathererFolderQueue = 0x321,
    kNidHierarchyTableTemplate = 0x60D,
    kNidContentsTableTemplate = 0x60E,
    kNidAssocContentsTableTemplate = 0x60F,
    kNidSearchContentsTableTemplate = 0x610,
    kNidAttachmentTable = 0x671, // the attachment table subnode of a message
    kNidRecipientTable = 0x692,  // the recipient table subnode of a message
    kNidSearchTableIndexTemplate = 0x6B6,
};

// ---------------------------------------------------------------------------------------------
// Heap-on-node (HN)

constexpr std::uint8_t kHeapSignature = 0xEC; // HNHDR.bSig
// HNHDR.bClientSig values.
enum ClientSignature : std::uint8_t {
    kClientSigTable = 0x7C,           // bTypeTC: table context
    kClientSigBTree = 0xB5,           // bTypeBTH: B-tree-on-heap
    kClientSigPropertyContext = 0xBC, // bTypePC: property context
};
// HNHDR (first block): ibHnpm(2) bSig(1) bClientSig(1) hidUserRoot(4) rgbFillLevel(4) = 12 bytes.
// HNPAGEHDR (other blocks): ibHnpm(2). HNBITMAPHDR (blocks 8, 136, 264, ...): ibHnpm(2)
// rgbFillLevel(64). HNPAGEMAP at ibHnpm: cAlloc(2) cFree(2) rgibAlloc[cAlloc + 1](2 each).
constexpr std::size_t kHnHeaderSize = 12;
constexpr std::size_t kHnPageHeaderSize = 2;
constexpr std::size_t kHnBitmapHeaderSize = 66;
constexpr std::size_t kMaxHeapAllocation = 3580; // largest item a heap block holds
// The heap block at `index` (within the node's data tree) starts with an HNBITMAPHDR.
constexpr bool heapBlockHasBitmapHeader(std::size_t index) {
    return index != 0 && index % 128 == 8;
}
// HID: hidType(5 bits, 0), hidIndex(11 bits, 1-based), hidBlockIndex(16 bits).
constexpr std::uint32_t hidIndex(std::uint32_t hid) {
    return (hid >> 5) & 0x7FF;
}
constexpr std::uint32_t hidBlockIndex(std::uint32_t hid) {
    return hid >> 16;
}
constexpr std::uint32_t makeHid(std::uint32_t blockIndex, std::uint32_t index) {
    return (blockIndex << 16) | ((index & 0x7FF) << 5);
}
// An HNID is a HID when its low 5 bits (the NID type) are 0, else a subnode NID.
constexpr bool hnidIsHid(std::uint32_t hnid) {
    return (hnid & 0x1F) == 0;
}

// BTHHEADER: bType(0xB5) cbKey(1) cbEnt(1) bIdxLevels(1) hidRoot(4).
constexpr std::size_t kBthHeaderSize = 8;
// TCINFO: bType(0x7C) cCols(1) rgib[4](2 each: end of 4/8-byte, 2-byte, 1-byte cells and of the
// cell-existence bitmap) hidRowIndex(4) hnidRows(4) hidIndex(4), then TCOLDESC[cCols]:
// tag(4) ibData(2) cbData(1) iBit(1).
constexpr std::size_t kTcInfoSize = 22;
constexpr std::size_t kTcColumnSize = 8;

// ---------------------------------------------------------------------------------------------
// Property types (PtypXxx, MS-OXCDATA) as stored in property contexts and table columns.

enum PropType : std::uint16_t {
    kPtypUnspecified = 0x0000,
    kPtypNull = 0x0001,
    kPtypInteger16 = 0x0002,
    kPtypInteger32 = 0x0003,
    kPtypFloating32 = 0x0004,
    kPtypFloating64 = 0x0005,
    kPtypCurrency = 0x0006,
    kPtypFloatingTime = 0x0007,
    kPtypErrorCode = 0x000A,
    kPtypBoolean = 0x000B,
    kPtypObject = 0x000D,
    kPtypInteger64 = 0x0014,
    kPtypString8 = 0x001E,
    kPtypString = 0x001F,
    kPtypTime = 0x0040,
    kPtypGuid = 0x0048,
    kPtypServerId = 0x00FB,
    kPtypRestriction = 0x00FD,
    kPtypRuleAction = 0x00FE,
    kPtypBinary = 0x0102,
    kPtypMultipleFlag = 0x1000, // or-ed into a type for its multi-valued form
};
// Size of a fixed-size value, or 0 for variable-size types. Values of 4 bytes or fewer are
// stored inline in a property context; larger ones through an HNID.
constexpr std::size_t fixedPropSize(std::uint16_t type) {
    switch (type) {
    case kPtypInteger16:
        return 2;
    case kPtypBoolean:
        return 1;
    case kPtypInteger32:
    case kPtypFloating32:
    case kPtypErrorCode:
        return 4;
    case kPtypFloating64:
    case kPtypCurrency:
    case kPtypFloatingTime:
    case kPtypInteger64:
    case kPtypTime:
        return 8;
    case kPtypGuid:
        return 16;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Checksums and encodings

// The CRC-32 of MS-PST section 5.3: the reflected 0xEDB88320 polynomial with no initial or final
// inversion, so ComputeCRC(0, ...) of nothing is 0. Pass a previous result as `crc` to continue.
std::uint32_t computeCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The 16-bit signature of a page or block at file offset `ib` with id `bid`.
constexpr std::uint16_t computeSignature(std::uint64_t ib, std::uint64_t bid) {
    const std::uint64_t x = ib ^ bid;
    return static_cast<std::uint16_t>(static_cast<std::uint16_t>(x >> 16) ^
                                      static_cast<std::uint16_t>(x));
}

// NDB_CRYPT_PERMUTE: a byte substitution (encode with table R, decode with its inverse I).
void permuteEncode(std::span<std::uint8_t> bytes);
void permuteDecode(std::span<std::uint8_t> bytes);
// NDB_CRYPT_CYCLIC keyed by the low 32 bits of the block id; the transform is its own inverse.
void cyclicCrypt(std::span<std::uint8_t> bytes, std::uint32_t key);
// Decodes/encodes the data of an external block in place according to the file's method.
void decodeBlock(CryptMethod method, std::span<std::uint8_t> bytes, std::uint64_t bid);
void encodeBlock(CryptMethod method, std::span<std::uint8_t> bytes, std::uint64_t bid);

// The last step before a block's bytes go to the file: encodes its data with `method` (None for
// internal blocks, which are never encoded) and writes its trailer.
void sealBlock(Format f, CryptMethod method, std::span<std::uint8_t> block, std::size_t dataSize,
               std::uint64_t bid, std::uint64_t ib);

} // namespace parvelle::pst
