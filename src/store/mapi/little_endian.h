#pragma once
// Little-endian integers appended to a byte buffer, as the binary properties and the file formats
// of the store lay them out. Each value grows the buffer once rather than once per byte.
#include <cstdint>
#include <vector>

namespace parvelle::mapi {

inline void appendLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    const std::size_t at = out.size();
    out.resize(at + 2);
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void appendLe64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    const std::size_t at = out.size();
    out.resize(at + 8);
    for (int i = 0; i < 8; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace parvelle::mapi
