#pragma once
// The node database of a Unicode PST file as a writer sees it: blocks built in memory and written
// in large runs (appended ones by a background thread, see StagedAppender), the node and block
// B-trees kept in memory and written out whole at each commit, and the allocation maps (with the
// deprecated maps the format still requires) kept in step.
//
// Crash safety: new blocks and B-tree pages only ever go to space the durable committed state does
// not use: space past the end of the file as the last header describes it, or space that was
// already free when the last durable header was written (what earlier commits released, reused
// first). A commit writes the data, marks the allocation maps invalid in the header, rewrites the
// map pages, and then writes the header that points to the new B-trees with the maps marked valid
// again, with an fdatasync between the steps. The header write is the commit point: a process
// killed (or a machine stopped) at any moment leaves the last committed state readable (at worst
// with the maps flagged for rebuilding).
//
// Those steps wait for the disk, so they run on a committer thread from snapshots of the header
// and map pages, once the appender has written everything before them; the builder goes on with
// the next messages meanwhile. Space a commit releases is reused only once that commit is durable.
#include "platform/background_worker.h"
#include "store/pst/format.h"
#include "store/pst/staged_appender.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvelle::pst {

struct NodeEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t nidParent = 0;
};

// One entry of a subnode tree (SLENTRY).
struct SubnodeEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

class NdbWriter {
public:
    ~NdbWriter();
    NdbWriter(const NdbWriter&) = delete;
    NdbWriter& operator=(const NdbWriter&) = delete;

    // Creates an empty database at `path` (which must not be in use). On failure returns null and
    // fills `error`.
    static std::unique_ptr<NdbWriter> create(const std::string& path, std::string& error);
    // True when another process holds the write lock on an existing file at `path`.
    static bool lockedByAnotherProcess(const std::string& path);
    // Opens an existing Unicode PST for appending: loads its B-trees and allocation maps.
    static std::unique_ptr<NdbWriter> open(const std::string& path, std::string& error);

    // --- blocks -------------------------------------------------------------------------
    // Writes one external block (at most maxBlockDataSize bytes, encoded on write) and returns its
    // id with one reference.
    std::uint64_t writeExternalBlock(std::span<const std::uint8_t> data);
    // Writes a node's data stream: one block, or data blocks under XBLOCK/XXBLOCK. Returns 0 for
    // empty data.
    std::uint64_t writeData(std::span<const std::uint8_t> data);
    // Builds the data tree over already written external blocks (their references pass to the
    // tree). Returns the single block itself when there is only one.
    std::uint64_t writeDataTree(const std::vector<std::uint64_t>& blocks, std::uint64_t total);
    // Writes a subnode tree (SLBLOCK, or SIBLOCK over several) for entries sorted by nid; the
    // entries' block references pass to the tree. Returns 0 when there are no entries.
    std::uint64_t writeSubnodeTree(const std::vector<SubnodeEntry>& entries);

    void addReference(std::uint64_t bid);
    // Drops one reference; a block without references is freed, and an internal block drops
    // its references to the blocks it lists.
    void release(std::uint64_t bid);
    // Bytes the block and everything under it occupy in the file (for message sizes).
    std::uint64_t storedSize(std::uint64_t bid);
    // Reads a block's data (decoded for external blocks). Empty on a bad id or I/O error.
    std::vector<std::uint8_t> readBlock(std::uint64_t bid);
    // Reads a node's whole data stream by following its data tree.
    std::vector<std::uint8_t> readData(std::uint64_t bid);
    // Reads the entries of a subnode tree.
    std::vector<SubnodeEntry> readSubnodes(std::uint64_t bid);

    // --- nodes --------------------------------------------------------------------------
    // Adds or replaces a node; the entry's references pass to the node and those of a replaced
    // entry are released.
    void putNode(const NodeEntry& node);
    const NodeEntry* findNode(std::uint32_t nid) const;
    const std::map<std::uint32_t, NodeEntry>& nodes() const { return nodes_; }
    // A fresh node id of the given type from the header's counters.
    std::uint32_t allocateNid(std::uint32_t type);

    // --- commit -------------------------------------------------------------------------
    // Commits everything written so far (see the header comment) and, with `wait`, returns once
    // it is durable; without, the commit's disk work goes on in the background. False with
    // `error` on an I/O failure (of this commit or an earlier one); the file then still holds
    // the previous commit, and every later commit fails.
    bool commit(std::string& error, bool wait = true);
    const std::string& path() const { return path_; }
    // The descriptor, for the store's rename-at-close; the lock stays with it.
    int fd() const { return fd_; }

private:
    NdbWriter();
    // The bytes a commit writes after the data, taken when it is made.
    struct CommitSteps {
        std::vector<std::uint8_t> invalidHeader; // empty for the first commit of a new file
        std::vector<std::pair<std::uint64_t, std::array<std::uint8_t, kPageSize>>> mapPages;
        std::vector<std::uint8_t> validHeader;
        std::uint64_t sequence = 0;
    };
    // On the committer thread: the steps after the data, with their fdatasyncs.
    std::string runCommitSteps(const CommitSteps& steps);
    // Space released by the commits that are durable becomes free for reuse.
    void reclaimDurableSpace();
    // The first failure of a write or commit on another thread (with `wait`, once both threads
    // finished what they were given); false when there is one.
    bool noBackgroundFailure(std::string& error, bool wait = false);
    // One block B-tree entry; kept for every block of the file, so it stays small.
    struct BlockInfo {
        std::uint64_t bid = 0;
        std::uint64_t ib = 0;
        std::uint16_t cb = 0;
        std::uint16_t refs = 0; // cRef of the B-tree entry is 16 bits as well
    };

    // Room for bytes in the file and where to build them before they are written.
    struct Space {
        std::uint64_t ib = 0;
        std::uint8_t* at = nullptr;
        bool appended = false; // in the appender's buffer (else in reused space)
    };

    bool initNew(std::string& error);
    bool load(std::string& error);
    BlockInfo* findBlock(std::uint64_t bid);
    std::uint64_t nextBid(bool internal);
    // Reserves `size` bytes (a multiple of 64) aligned to `align`, in free space the committed
    // state does not use or else in appended space (growing the file and its map pages), and
    // marks them allocated.
    Space reserve(std::uint64_t size, std::uint64_t align);
    std::optional<std::uint64_t> takeFreeSpace(std::uint64_t size, std::uint64_t align);
    void addFreeSpace(std::uint64_t ib, std::uint64_t size);
    // Writes the bytes built for reused space (runs of adjacent reservations, written together).
    void flushReused();
    void ensureInterval(std::uint64_t n);
    void setAllocated(std::uint64_t ib, std::uint64_t size, bool allocated);
    bool writeAt(std::uint64_t ib, std::span<const std::uint8_t> bytes, std::string& error);
    bool readAt(std::uint64_t ib, std::span<std::uint8_t> bytes);
    std::uint64_t writeInternalBlock(std::span<const std::uint8_t> data,
                                     const std::vector<std::uint64_t>& children);
    // Places a block and has its data encoded (external blocks) and its trailer written; for
    // appended space the appender's thread does that just before writing.
    std::uint64_t storeBlock(std::uint64_t bid, std::span<const std::uint8_t> data, bool encode);
    Bref writeBTree(bool nodeTree);
    void buildMapPages(std::uint64_t n, CommitSteps& steps);
    // The bytes of one map page of interval n, as the maps stand.
    void buildMapPage(std::uint64_t n, PageType type, std::uint64_t ib,
                      std::span<std::uint8_t, kPageSize> page);
    // Fills in the map pages of the intervals a buffer about to be appended completes (see the
    // implementation), so that commits need not rewrite them.
    void fillFinishedMapPages(std::uint64_t base, std::span<std::uint8_t> bytes);
    // Creates the appender for appended space from file offset `start` on.
    void startAppending(std::uint64_t start);
    std::vector<std::uint64_t> childrenOf(std::uint64_t bid);
    void compactBlocks();

    std::string path_;
    int fd_ = -1;
    Header header_;
    std::vector<std::uint8_t> headerBytes_;
    std::map<std::uint32_t, NodeEntry> nodes_;
    std::vector<BlockInfo> blocks_; // sorted by bid (new ids only grow)
    std::size_t freedBlocks_ = 0;
    // Bytes an internal block written in this session and all it lists occupy (for message
    // sizes without reading the blocks back).
    std::map<std::uint64_t, std::uint64_t> treeBytes_;
    // Allocation maps: one 496-byte bitmap per interval, with the intervals changed since the
    // last commit.
    std::vector<std::array<std::uint8_t, kMapBitmapBytes>> amaps_;
    std::vector<bool> amapDirty_;
    std::uint64_t amapFree_ = 0;
    std::uint64_t eof_ = 0; // next free byte of appended space
    // Space free in the committed state (ib -> size, coalesced), handed out front to back between
    // two commits; freeCursor_ is where the next search starts.
    std::map<std::uint64_t, std::uint64_t> freeSpace_;
    std::uint64_t freeCursor_ = 0;
    // Bytes built for a run of adjacent reservations in reused space, from reusedBase_ on.
    std::uint64_t reusedBase_ = 0;
    std::vector<std::uint8_t> reused_;
    // Appended space, ending at eof_: blocks are built in place there and written in large
    // sequential writes while the next ones are built.
    std::unique_ptr<StagedAppender> out_;
    std::string writeError_; // the first failed write of reused space
    // Space to free at the next commit (blocks and B-tree pages the committed state may still use).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pendingFree_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> oldBTreePages_;
    // Space released by commits not yet known to be durable, by commit sequence number.
    std::deque<std::pair<std::uint64_t, std::vector<std::pair<std::uint64_t, std::uint64_t>>>>
        releasedByCommit_;
    std::uint64_t commitSequence_ = 0;
    std::atomic<std::uint64_t> durableSequence_{0};
    std::atomic<bool> commitFailed_{false};
    std::string backgroundError_; // the first failure seen on another thread (sticky)
    // Runs the steps after the data of each commit, in order (stopped after the appender).
    std::unique_ptr<platform::BackgroundWorker> committer_;
};

} // namespace parvelle::pst
