#pragma once
// Read-only memory mapping of a whole file. Archives of tens of GB are walked through the mapping
// so that the heap never holds file contents; pages are the kernel's to drop.
#include <cstdint>
#include <span>
#include <string>

namespace parvelle::platform {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;

    // Maps the file; on failure returns false and leaves a plain-words reason in error().
    bool open(const std::string& path);
    void close();

    bool isOpen() const { return opened_; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
    std::uint64_t size() const { return size_; }
    const std::string& error() const { return error_; }
    // Tells the kernel the mapping will be read front to back.
    void adviseSequential() const;

private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
    bool opened_ = false;
    std::string error_;
};

} // namespace parvelle::platform
