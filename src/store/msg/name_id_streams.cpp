#include "store/msg/name_id_streams.h"

#include "platform/text.h"
#include "store/msg/msg_format.h"

#include <array>

namespace parvelle::msg {

namespace {

constexpr std::uint32_t kGuidIndexMapi = 1;
constexpr std::uint32_t kGuidIndexPublicStrings = 2;
constexpr std::uint32_t kFirstStreamGuidIndex = 3;

void append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t read32(std::span<const std::uint8_t> s, std::size_t at) {
    return static_cast<std::uint32_t>(s[at]) | (static_cast<std::uint32_t>(s[at + 1]) << 8) |
           (static_cast<std::uint32_t>(s[at + 2]) << 16) |
           (static_cast<std::uint32_t>(s[at + 3]) << 24);
}

std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

} // namespace

std::uint32_t nameIdCrc32(std::span<const std::uint8_t> bytes) {
    static const auto table = makeCrcTable();
    std::uint32_t crc = 0;
    for (std::uint8_t b : bytes)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

NameIdStreams encodeNameIdStreams(const mapi::NameIdMap& map) {
    NameIdStreams out;
    std::vector<mapi::Guid> guidOrder;
    auto guidIndex = [&](const mapi::Guid& g) -> std::uint32_t {
        if (g == mapi::psets::kMapi)
            return kGuidIndexMapi;
        if (g == mapi::psets::kPublicStrings)
            return kGuidIndexPublicStrings;
        for (std::size_t i = 0; i < guidOrder.size(); ++i)
            if (guidOrder[i] == g)
                return kFirstStreamGuidIndex + static_cast<std::uint32_t>(i);
        guidOrder.push_back(g);
        const auto bytes = g.bytes();
        out.guids.insert(out.guids.end(), bytes.begin(), bytes.end());
        return kFirstStreamGuidIndex + static_cast<std::uint32_t>(guidOrder.size() - 1);
    };

    const auto& entries = map.entries();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const mapi::NamedProperty& name = entries[index];
        const std::uint32_t kind = name.isNumeric() ? 0 : 1;
        const std::uint32_t gi = guidIndex(name.propertySet);
        const std::uint32_t indexAndKind =
            (static_cast<std::uint32_t>(index) << 16) | ((gi << 1) & 0xFFFF) | kind;
        std::uint32_t key = 0;
        std::uint32_t hashId = 0;
        if (kind == 0) {
            key = std::get<std::uint32_t>(name.name);
            hashId = key;
        } else {
            const std::string utf16 = text::utf8ToUtf16le(std::get<std::string>(name.name));
            const std::span<const std::uint8_t> bytes(
                reinterpret_cast<const std::uint8_t*>(utf16.data()), utf16.size());
            key = static_cast<std::uint32_t>(out.strings.size());
            append32(out.strings, static_cast<std::uint32_t>(bytes.size()));
            out.strings.insert(out.strings.end(), bytes.begin(), bytes.end());
            while (out.strings.size() % 4 != 0)
                out.strings.push_back(0);
            hashId = nameIdCrc32(bytes);
        }
        append32(out.entries, key);
        append32(out.entries, indexAndKind);
        const auto bucket = static_cast<std::uint16_t>(
            kNameIdHashBase + ((hashId ^ ((gi << 1) | kind)) % kNameIdHashBuckets));
        auto& stream = out.buckets[bucket];
        append32(stream, hashId);
        append32(stream, indexAndKind);
    }
    return out;
}

Result<std::map<std::uint16_t, mapi::NamedProperty>>
decodeNameIdStreams(std::span<const std::uint8_t> guids, std::span<const std::uint8_t> entries,
                    std::span<const std::uint8_t> strings) {
    using Out = std::map<std::uint16_t, mapi::NamedProperty>;
    Out out;
    for (std::size_t at = 0; at + 8 <= entries.size(); at += 8) {
        const std::uint32_t key = read32(entries, at);
        const std::uint32_t indexAndKind = read32(entries, at + 4);
        const std::uint32_t index = indexAndKind >> 16;
        const std::uint32_t gi = (indexAndKind & 0xFFFF) >> 1;
        const bool isString = (indexAndKind & 1) != 0;
        if (index >= 0x8000)
            return Result<Out>::failure("named property index out of range");
        mapi::NamedProperty name;
        if (gi == kGuidIndexMapi)
            name.propertySet = mapi::psets::kMapi;
        else if (gi == kGuidIndexPublicStrings)
            name.propertySet = mapi::psets::kPublicStrings;
        else if (gi >= kFirstStreamGuidIndex &&
                 (gi - kFirstStreamGuidIndex + 1) * 16ULL <= guids.size())
            name.propertySet = mapi::Guid::fromBytes(&guids[(gi - kFirstStreamGuidIndex) * 16]);
        else
            return Result<Out>::failure("named property refers to a missing property set");
        if (isString) {
            if (key > strings.size() || strings.size() - key < 4)
                return Result<Out>::failure("named property name outside the string stream");
            const std::uint32_t length = read32(strings, key);
            if (length > strings.size() - key - 4)
                return Result<Out>::failure("named property name overruns the string stream");
            const auto* p = reinterpret_cast<const char*>(strings.data() + key + 4);
            name.name = text::utf16leToUtf8(std::string_view(p, length));
        } else {
            name.name = key;
        }
        out[static_cast<std::uint16_t>(mapi::kFirstNamedId + index)] = std::move(name);
    }
    return out;
}

} // namespace parvelle::msg
