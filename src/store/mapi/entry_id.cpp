#include "store/mapi/entry_id.h"

#include <algorithm>

#include "platform/text.h"

namespace parvelle::mapi {

const std::array<std::uint8_t, 16> kOneOffProviderUid{
    0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};

namespace {
void appendUtf16z(Binary& out, std::string_view utf8) {
    const std::string le = text::utf8ToUtf16le(utf8);
    out.insert(out.end(), le.begin(), le.end());
    out.push_back(0);
    out.push_back(0);
}
} // namespace

Binary oneOffEntryId(std::string_view displayName, std::string_view addressType,
                     std::string_view address) {
    constexpr std::uint16_t kOneOffUnicode = 0x8000;
    constexpr std::uint16_t kOneOffNoRichInfo = 0x0001;
    Binary out(4 + kOneOffProviderUid.size(), 0); // flags, then the provider's id
    std::copy(kOneOffProviderUid.begin(), kOneOffProviderUid.end(), out.begin() + 4);
    out.push_back(0); // version
    out.push_back(0);
    const std::uint16_t flags = kOneOffUnicode | kOneOffNoRichInfo;
    out.push_back(static_cast<std::uint8_t>(flags));
    out.push_back(static_cast<std::uint8_t>(flags >> 8));
    appendUtf16z(out, displayName);
    appendUtf16z(out, addressType);
    appendUtf16z(out, address);
    return out;
}

Binary addressSearchKey(std::string_view addressType, std::string_view address) {
    std::string key = std::string(addressType) + ":" + std::string(address);
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    Binary out(key.begin(), key.end());
    out.push_back(0);
    return out;
}

} // namespace parvelle::mapi
