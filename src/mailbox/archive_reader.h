#pragma once
// Reads the bytes of located items back out of an archive: read from the file at their offsets
// (through the mapping when the file cannot be opened a second time), deflated members inflated
// (the last inflated member is kept, so consecutive items of one deflated aggregate document
// cost one inflation).
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mailbox/records.h"
#include "mailbox/zip_walk.h"
#include "platform/mapped_file.h"
#include "platform/read_only_file.h"

namespace parvelle::mailbox {

// The last deflated member inflated, kept for the next item that lies in it.
struct InflatedMember {
    std::int64_t offset = -1;
    std::string bytes;
};

// Whether the item's bytes (stored: the item; deflated: its compressed member) lie inside an
// archive of `total` bytes.
bool locatedInside(const ItemSource& item, std::int64_t total);

// The item's bytes taken from `archive`, or nothing when they lie outside it or cannot be
// inflated. The view lasts until the next read from `archive` or `cache`.
std::optional<std::string_view> viewItemBytes(ZipByteSource& archive, const ItemSource& item,
                                              InflatedMember& cache);

class ArchiveReader {
public:
    bool open(const std::string& path);
    bool isOpen() const { return file_.isOpen(); }
    const std::string& error() const { return file_.error(); }
    const platform::MappedFile& file() const { return file_; }
    // The archive for reads at offsets (null when it could not be opened a second time); it
    // stays open as long as someone holds it.
    const std::shared_ptr<platform::ReadOnlyFile>& reader() const { return reader_; }

    // The item's bytes, or nothing when they lie outside the archive or cannot be inflated.
    std::optional<std::string> read(const ItemSource& item);

private:
    platform::MappedFile file_;
    std::shared_ptr<platform::ReadOnlyFile> reader_;
    InflatedMember cache_;
    std::string packed_; // the last compressed member read, reused
};

// An archive file read front to back through one reused buffer. The walk and the summaries read
// headers and documents through it instead of touching the pages of a mapping: a plain read
// costs one copy per byte, while every first touch of a mapped page costs a page fault, and on
// virtual machines those faults made a scan several times slower than reading the file.
// Requests larger than the buffer (large aggregate documents) are served from the mapping: a
// fault maps several pages of a mapped file at once, whereas a buffer grown for them would fault
// in every new page on its own.
class ArchiveWindow final : public ZipByteSource {
public:
    static constexpr std::size_t kDefaultWindow = std::size_t{128} << 10;

    // `mapped` is the same file mapped whole; `window` is the size of the largest read.
    explicit ArchiveWindow(std::span<const std::uint8_t> mapped,
                           std::size_t window = kDefaultWindow);
    // False when the file cannot be opened for reading; the mapping then serves every request.
    bool open(const std::string& path);

    std::uint64_t size() const override { return mapped_.size(); }
    const std::uint8_t* view(std::uint64_t pos, std::size_t n) override;

private:
    // The first read after a jump; reads double from there while the walk goes on front to back.
    static constexpr std::size_t kFirstRead = std::size_t{8} << 10;

    std::span<const std::uint8_t> mapped_;
    std::size_t window_;
    std::shared_ptr<platform::ReadOnlyFile> file_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t start_ = 0;
    std::size_t length_ = 0;
    std::size_t readSize_ = 0;
};

} // namespace parvelle::mailbox
