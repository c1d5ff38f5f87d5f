#pragma once
// An independent reading of a distribution list's member stream (MS-OXOCNTC
// PidLidDistributionListStream) and of one-off entry ids, for tests that check what was written.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/text.h"

namespace parvelle::testing {

struct StreamMember {
    std::vector<std::uint8_t> entryId;
    std::vector<std::uint8_t> oneOffEntryId;
};

struct DistListStream {
    std::uint16_t version = 0;
    std::uint16_t reserved = 0;
    std::uint32_t buildVersion = 0;
    std::uint32_t flags = 0;
    std::uint32_t count = 0;
    std::uint32_t totalEntryIdSize = 0;
    std::uint32_t totalOneOffSize = 0;
    std::uint32_t totalExtraSize = 0;
    std::vector<StreamMember> members;
};

// Nullopt unless `bytes` hold exactly one stream: every size within the bytes, no extra member
// information, both terminators zero and nothing after them.
inline std::optional<DistListStream> parseDistListStream(std::span<const std::uint8_t> bytes) {
    std::size_t at = 0;
    const auto u16 = [&](std::uint16_t& v) {
        if (bytes.size() - at < 2)
            return false;
        v = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return true;
    };
    const auto u32 = [&](std::uint32_t& v) {
        if (bytes.size() - at < 4)
            return false;
        v = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
            static_cast<std::uint32_t>(bytes[at + 3]) << 24;
        at += 4;
        return true;
    };
    const auto sized = [&](std::vector<std::uint8_t>& out) {
        std::uint32_t size = 0;
        if (!u32(size) || bytes.size() - at < size)
            return false;
        out.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                   bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        return true;
    };
    DistListStream s;
    if (!u16(s.version) || !u16(s.reserved) || !u32(s.buildVersion) || !u32(s.flags) ||
        !u32(s.count) || !u32(s.totalEntryIdSize) || !u32(s.totalOneOffSize) ||
        !u32(s.totalExtraSize) || s.count > bytes.size() / 12)
        return std::nullopt;
    for (std::uint32_t i = 0; i < s.count; ++i) {
        StreamMember m;
        std::uint32_t extra = 1;
        if (!sized(m.entryId) || !sized(m.oneOffEntryId) || !u32(extra) || extra != 0)
            return std::nullopt;
        s.members.push_back(std::move(m));
    }
    std::uint32_t terminator1 = 1;
    std::uint32_t terminator2 = 1;
    if (!u32(terminator1) || !u32(terminator2) || terminator1 != 0 || terminator2 != 0 ||
        at != bytes.size())
        return std::nullopt;
    return s;
}

// "Name <address>" of a Unicode one-off entry id: 24 header bytes, then display name, address
// type and address as zero-terminated UTF-16LE.
inline std::string oneOffText(const std::vector<std::uint8_t>& entry) {
    if (entry.size() < 24)
        return {};
    std::vector<std::string> strings(1);
    for (std::size_t i = 24; i + 1 < entry.size(); i += 2) {
        if (entry[i] == 0 && entry[i + 1] == 0)
            strings.emplace_back();
        else
            strings.back() +=
                std::string{static_cast<char>(entry[i]), static_cast<char>(entry[i + 1])};
    }
    if (strings.size() < 3)
        return {};
    return text::utf16leToUtf8(strings[0]) + " <" + text::utf16leToUtf8(strings[2]) + ">";
}

} // namespace parvelle::testing
