#include "store/msg/compound_file_format.h"

namespace parvelle::msg::cfb {

namespace {

// Simple (one-to-one) upper-case mapping for the scripts that occur in entry names in practice:
// Latin, Greek and Cyrillic. Other code units compare as they are.
char16_t upper(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A alternates upper/lower case in pairs, shifted by one in two ranges.
        const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x131)
            return u'I';
        if (c == 0x17F)
            return u'S';
        if (oddPairs)
            return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
        if (c == 0x138 || c == 0x149)
            return c;
        return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return static_cast<char16_t>(c - 0x20);
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

} // namespace

std::string checkEntryName(std::u16string_view name) {
    if (name.empty())
        return "an entry name must not be empty";
    if (name.size() > kMaxNameUnits)
        return "an entry name is limited to 31 UTF-16 code units";
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!')
            return "an entry name must not contain '/', '\\', ':' or '!'";
        if (c == 0)
            return "an entry name must not contain a NUL character";
    }
    return {};
}

int compareEntryNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t ua = upper(a[i]);
        const char16_t ub = upper(b[i]);
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    return 0;
}

} // namespace parvelle::msg::cfb
