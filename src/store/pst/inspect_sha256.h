#pragma once
// SHA-256 (FIPS 180-4) for the attachment digests the inspection commands print, fed block by
// block so large attachments are never held whole.
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace parvelle::pst {

class Sha256 {
public:
    Sha256();
    void update(std::span<const std::uint8_t> bytes);
    // The digest as 64 lowercase hex digits; the object is spent afterwards.
    std::string hexDigest();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

} // namespace parvelle::pst
