#pragma once
// Bytes appended to a file, built in memory and written by a background thread in large
// sequential writes, so that building the next megabytes of a PST overlaps writing the previous
// ones. The caller fills one buffer while the thread writes those handed over before, in order.
//
//   StagedAppender out(fd, fileEnd);
//   std::uint8_t* p = out.extend(out.end() + n);   // room for n more bytes, filled by the caller
//   ...
//   std::string error;
//   out.flush();
//   if (!out.wait(error)) ...                       // every byte handed over is written
//
// A failed write is remembered: later buffers are dropped and wait() reports the first error.
//
// afterWritten() runs an action once every byte handed over so far is in the file, in order with
// the writes (a commit's steps go there, so that they never wait on the builder's thread).
//
// Blocks built in the buffer can be handed over unsealed (see seal()): the thread encodes them
// and computes their checksums just before writing, which takes that work off the builder.
#include "store/pst/format.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace parvelle::pst {

// Writes all of `bytes` to `fd` at file offset `at`; empty, or the error.
std::string writeAllAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t at);

class StagedAppender {
public:
    // Appends to `fd` (which stays owned by the caller) from file offset `start` on.
    StagedAppender(int fd, std::uint64_t start);
    ~StagedAppender();
    StagedAppender(const StagedAppender&) = delete;
    StagedAppender& operator=(const StagedAppender&) = delete;

    // Small enough that the bytes built in a buffer are still in the processor's cache when the
    // thread copies them into the file: with 8 MB buffers every appended byte went to main
    // memory and came back once more, and a conversion took a sixth longer.
    static constexpr std::size_t kBufferBytes = 1u << 20;
    // Buffers in all: one being filled, the others queued or being written. Writes into the page
    // cache vary in pace (on a virtual machine, first use of memory costs several times a copy);
    // several buffers in hand keep the builder from waiting on a slow one.
    static constexpr std::size_t kBuffers = 8;

    // The file offset the next appended byte goes to.
    std::uint64_t end() const { return base_ + length_; }
    // Makes the staged bytes reach `newEnd` (less than kBufferBytes past end()) and returns the
    // buffer position of the old end. The new bytes are uninitialised: the caller writes them.
    std::uint8_t* extend(std::uint64_t newEnd);
    // The buffer position of staged file offset `ib` (at least the first offset still in the
    // buffer being filled, see staged()).
    std::uint8_t* at(std::uint64_t ib) { return buffer_.get() + (ib - base_); }
    // True when `ib` is still in the buffer being filled.
    bool staged(std::uint64_t ib) const { return ib >= base_; }
    // A block in the buffer being filled whose data is complete but not yet encoded and whose
    // trailer is not yet written; both are done before it reaches the file (or is copied out).
    struct Seal {
        std::uint64_t ib = 0;
        std::uint64_t bid = 0;
        std::uint32_t dataSize = 0;
        CryptMethod method = CryptMethod::None;
    };
    void seal(const Seal& block) { seals_.push_back(block); }
    // Copies bytes that are not yet in the file, sealed; false when they are not here (or are
    // being written), so the caller reads the file instead.
    bool copyOut(std::uint64_t ib, std::span<std::uint8_t> out);
    // Hands the staged bytes to the writing thread.
    void flush();
    // Called on the builder's thread with each buffer (its first file offset, its bytes) just
    // before it is handed over: the last chance to fill in what it holds.
    void beforeHandOver(std::function<void(std::uint64_t, std::span<std::uint8_t>)> fill) {
        beforeHandOver_ = std::move(fill);
    }
    // Waits until everything handed over is written; false with the first write error.
    bool wait(std::string& error);
    // Runs `action` once every byte handed over so far is written (at once, on this thread, when
    // that is already so; else on the writing thread after the last buffer handed over). It is
    // skipped after a write error; what it returns, when not empty, becomes the appender's error.
    void afterWritten(std::function<std::string()> action);
    // The first write error so far, without waiting; false when there is one.
    bool healthy(std::string& error);

private:
    struct Unmap {
        void operator()(std::uint8_t* p) const;
    };
    using Buffer = std::unique_ptr<std::uint8_t, Unmap>;
    static Buffer allocateBuffer();
    // A buffer handed over, with the blocks still to seal in it.
    struct Handed {
        Buffer buffer;
        std::uint64_t base = 0;
        std::size_t length = 0;
        std::vector<Seal> seals;
    };
    void run();
    // Writes one handed-over buffer; empty, or the error.
    std::string writeBuffer(const std::uint8_t* data, std::uint64_t base, std::size_t length);
    // With the lock held: every byte handed over is written and no action is left.
    bool settled() const { return written_ == handed_ && after_.empty(); }

    int fd_;
    Buffer buffer_; // being filled
    std::uint64_t base_;
    std::size_t length_ = 0;
    std::vector<Seal> seals_; // of the buffer being filled
    std::function<void(std::uint64_t, std::span<std::uint8_t>)> beforeHandOver_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Buffer> spare_; // neither filled nor written
    std::deque<Handed> queue_;  // handed over, in file order; the front one is being written
    std::uint64_t handed_ = 0;  // buffers handed over so far
    std::uint64_t written_ = 0; // of those, written (all in order)
    // Actions with the number of buffers that must be written before they run.
    std::deque<std::pair<std::uint64_t, std::function<std::string()>>> after_;
    bool stopping_ = false;
    std::string error_;
    std::thread thread_;
};

} // namespace parvelle::pst
