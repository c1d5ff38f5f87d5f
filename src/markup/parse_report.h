#pragma once
// The parse report: a markup string of empty elements, one per event, such as
// <lone_end_tag tagname="b" offset="12"/>. It stops growing once it reaches 1,000 UTF-16 units so
// that a badly broken document cannot make it large; later events are dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace parvelle::markup {

// UTF-16 length of text that is known to be valid UTF-8: every byte but continuation bytes starts
// one unit, and a four-byte sequence takes two.
inline std::size_t utf16Units(std::string_view validUtf8) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < validUtf8.size()) {
        // ASCII runs, eight bytes at a time.
        if (i + 8 <= validUtf8.size()) {
            std::uint64_t word = 0;
            std::memcpy(&word, validUtf8.data() + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                units += 8;
                i += 8;
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(validUtf8[i++]);
        units += (b & 0xC0) != 0x80;
        units += b >= 0xF0;
    }
    return units;
}

class ParseReport {
public:
    using Attribute = std::pair<std::string_view, std::string_view>;

    // Where an entry sits in the text, so that it can be rewritten later.
    struct Entry {
        std::size_t at = std::string::npos;
        std::size_t length = 0;
    };

    ParseReport() = default;
    explicit ParseReport(std::string text);

    // Whether an entry added now would be kept; lets callers skip computing its attributes.
    bool accepts() const { return units_ < kLimit; }
    // Appends <word name="value" .../> (values escaped) if the report is still short enough.
    Entry add(std::string_view word, std::initializer_list<Attribute> attributes = {});
    // Rewrites an entry added before (no-op for a dropped entry).
    void replace(Entry& entry, std::string_view word, std::initializer_list<Attribute> attributes);

    const std::string& text() const { return text_; }
    std::string take() { return std::move(text_); }

private:
    static constexpr std::size_t kLimit = 1000;
    static std::string render(std::string_view word, std::initializer_list<Attribute> attributes);

    std::string text_;
    std::size_t units_ = 0; // UTF-16 length of text_
};

} // namespace parvelle::markup
