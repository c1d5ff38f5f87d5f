#pragma once
// Access to the genuine sample files for the PST reading tests. They are read in place and never
// copied into the repository; tests skip when the folder is absent.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace parvelle::pst_read_test {

inline std::optional<std::string> genuineFile(const std::string& name) {
    const std::filesystem::path path =
        std::filesystem::path(PARVELLE_THIRD_PARTY_DIR) / "pst" / name;
    if (!std::filesystem::exists(path))
        return std::nullopt;
    return path.string();
}

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace parvelle::pst_read_test
