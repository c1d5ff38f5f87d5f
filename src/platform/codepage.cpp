#include "platform/codepage.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <unordered_map>
#include <utility>

namespace parvelle::codepage {
namespace {

struct CodePageName {
    int codePage;
    const char* iconv;
};

// Windows code pages with a glibc converter. Where glibc has no converter of the same code page
// (the DOS Arabic, Mac Arabic/Greek/Turkish, ISCII and a few CNS pages) nothing is listed and the
// ANSI code page is used instead, which keeps at least the ASCII range intact.
constexpr CodePageName kCodePages[] = {
    {37, "IBM037"},
    {154, "PT154"},
    {437, "IBM437"},
    {500, "IBM500"},
    {708, "ASMO-708"},
    {737, "CP737"},
    {775, "CP775"},
    {850, "IBM850"},
    {852, "IBM852"},
    {855, "IBM855"},
    {857, "IBM857"},
    {858, "IBM858"},
    {860, "IBM860"},
    {861, "IBM861"},
    {862, "IBM862"},
    {863, "IBM863"},
    {864, "IBM864"},
    {865, "IBM865"},
    {866, "IBM866"},
    {869, "IBM869"},
    {874, "WINDOWS-874"},
    {875, "CP875"},
    {932, "WINDOWS-31J"},
    {936, "CP936"},
    {949, "CP949"},
    {950, "CP950"},
    {1026, "IBM1026"},
    {1047, "IBM1047"},
    {1125, "CP1125"},
    {1133, "CP1133"},
    {1140, "IBM1140"},
    {1141, "IBM1141"},
    {1142, "IBM1142"},
    {1143, "IBM1143"},
    {1144, "IBM1144"},
    {1145, "IBM1145"},
    {1146, "IBM1146"},
    {1147, "IBM1147"},
    {1148, "IBM1148"},
    {1149, "IBM1149"},
    {kUtf16Le, "UTF-16LE"},
    {kUtf16Be, "UTF-16BE"},
    {1250, "WINDOWS-1250"},
    {1251, "WINDOWS-1251"},
    {kWindows1252, "WINDOWS-1252"},
    {1253, "WINDOWS-1253"},
    {1254, "WINDOWS-1254"},
    {1255, "WINDOWS-1255"},
    {1256, "WINDOWS-1256"},
    {1257, "WINDOWS-1257"},
    {1258, "WINDOWS-1258"},
    {1361, "JOHAB"},
    {10000, "MACINTOSH"},
    {10007, "CP10007"},
    {10017, "MACUKRAINIAN"},
    {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},
    {kUtf32Le, "UTF-32LE"},
    {kUtf32Be, "UTF-32BE"},
    {20106, "ISO646-DE"},
    {20107, "ISO646-SE"},
    {20108, "ISO646-NO"},
    {20127, "US-ASCII"},
    {20261, "T.61-8BIT"},
    {20269, "ISO_6937"},
    {20866, "KOI8-R"},
    {20932, "EUC-JP"},
    {20936, "GB2312"},
    {20949, "EUC-KR"},
    {21866, "KOI8-U"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8"},
    {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"},
    {51932, "EUC-JP-MS"},
    {51936, "EUC-CN"},
    {51949, "EUC-KR"},
    {54936, "GB18030"},
    {kUtf7, "UTF-7"},
    {kUtf8, "UTF-8"},
};

// Code page 1252 is decoded natively: it is the ANSI code page, and Windows maps its five
// unassigned bytes (81, 8D, 8F, 90, 9D) to the C1 controls where iconv refuses them.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t decodeValid(std::string_view s, std::size_t i, std::size_t len) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (len == 1) {
        return b0;
    }
    char32_t cp = b0 & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    return cp;
}

// Calls f(codePoint) for every character of possibly malformed UTF-8; a malformed sequence
// comes as one kReplacement with `malformed` set.
template <typename F> void forEachUtf8(std::string_view s, F f) {
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t valid = 0;
        const std::size_t len = utf8SequenceLength(s, i, valid);
        if (len == 0) {
            f(kReplacement, true);
            i += valid;
        } else {
            f(decodeValid(s, i, len), false);
            i += len;
        }
    }
}

std::string sanitizedUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Most text is ASCII: skip it eight bytes at a time.
        if (i + 8 <= bytes.size()) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data() + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t valid = 0;
        const std::size_t len = utf8SequenceLength(bytes, i, valid);
        if (len == 0) {
            break;
        }
        i += len;
    }
    if (i == bytes.size()) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 16);
    out.append(bytes.substr(0, i));
    forEachUtf8(bytes.substr(i), [&](char32_t cp, bool) { appendUtf8(out, cp); });
    return out;
}

std::string utf32ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) {
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + (bigEndian ? k : 3 - k)]);
            v = (v << 8) | b;
        }
        const bool valid = v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
        appendUtf8(out, valid ? v : kReplacement);
    }
    if (i < bytes.size()) {
        appendUtf8(out, kReplacement);
    }
    return out;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else if (b < 0xA0) {
            appendUtf8(out, kWindows1252High[b - 0x80]);
        } else {
            appendUtf8(out, b);
        }
    }
    return out;
}

std::string utf8ToWindows1252(std::string_view utf8, bool& usedDefault) {
    std::string out;
    out.reserve(utf8.size());
    forEachUtf8(utf8, [&](char32_t cp, bool malformed) {
        if (!malformed && (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))) {
            out.push_back(static_cast<char>(cp));
            return;
        }
        for (std::size_t k = 0; k < kWindows1252High.size() && !malformed; ++k) {
            if (kWindows1252High[k] == cp) {
                out.push_back(static_cast<char>(0x80 + k));
                return;
            }
        }
        out.push_back('?');
        usedDefault = true;
    });
    return out;
}

// One converter per (direction, code page) and thread: opening an iconv descriptor loads tables,
// and a scan converts thousands of documents with the same few code pages.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

Converter* converter(int codePage, bool toUtf8) {
    thread_local std::unordered_map<int, std::unique_ptr<Converter>> cache;
    const int key = toUtf8 ? codePage : -codePage - 1;
    auto it = cache.find(key);
    if (it == cache.end()) {
        const std::string name(iconvName(codePage));
        auto conv = toUtf8 ? std::make_unique<Converter>("UTF-8", name.c_str())
                           : std::make_unique<Converter>(name.c_str(), "UTF-8");
        it = cache.emplace(key, std::move(conv)).first;
    }
    return it->second->ok() ? it->second.get() : nullptr;
}

// Runs iconv over the whole input. On a sequence it cannot convert it writes `substitute` and
// skips `skip(position)` input bytes, so that malformed input never stops the conversion.
template <typename Skip>
std::string runIconv(Converter& conv, std::string_view in, std::string_view substitute, Skip skip,
                     bool& substituted) {
    conv.reset();
    std::string out;
    out.resize(in.size() * 2 + 16);
    std::size_t produced = 0;
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    const auto grow = [&] { out.resize(out.size() * 2); };
    const auto put = [&](std::string_view s) {
        while (out.size() - produced < s.size()) {
            grow();
        }
        out.replace(produced, s.size(), s);
        produced += s.size();
    };
    bool flushing = false;
    while (true) {
        char* outPtr = out.data() + produced;
        std::size_t outLeft = out.size() - produced;
        const std::size_t r = flushing ? iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft)
                                       : iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        produced = static_cast<std::size_t>(outPtr - out.data());
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing) {
                break;
            }
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            grow();
            continue;
        }
        if (flushing) {
            break;
        }
        substituted = true;
        put(substitute);
        if (errno == EINVAL || inLeft == 0) {
            // An incomplete sequence at the end: nothing follows it.
            inLeft = 0;
        } else {
            const std::size_t n =
                std::min(inLeft, skip(static_cast<std::size_t>(inPtr - in.data())));
            inPtr += n;
            inLeft -= n;
        }
        conv.reset();
    }
    out.resize(produced);
    return out;
}

int resolve(int codePage) {
    if (codePage <= kAnsi || !isSupported(codePage)) {
        return ansiCodePage();
    }
    return codePage;
}

} // namespace

int ansiCodePage() {
    return kWindows1252;
}

std::string_view iconvName(int codePage) {
    if (codePage == kAnsi) {
        codePage = ansiCodePage();
    }
    for (const auto& entry : kCodePages) {
        if (entry.codePage == codePage) {
            return entry.iconv;
        }
    }
    return {};
}

bool isSupported(int codePage) {
    return codePage == kAnsi || !iconvName(codePage).empty();
}

std::string toUtf8(std::string_view bytes, int codePage) {
    switch (const int cp = resolve(codePage)) {
    case kUtf8:
        return sanitizedUtf8(bytes);
    case kWindows1252:
        return windows1252ToUtf8(bytes);
    case kUtf16Le:
        return text::utf16leToUtf8(bytes);
    case kUtf16Be: {
        std::string swapped(bytes.substr(0, bytes.size() & ~std::size_t{1}));
        for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) {
            std::swap(swapped[i], swapped[i + 1]);
        }
        return text::utf16leToUtf8(swapped);
    }
    case kUtf32Le:
    case kUtf32Be:
        return utf32ToUtf8(bytes, cp == kUtf32Be);
    default: {
        Converter* conv = converter(cp, true);
        if (conv == nullptr) {
            return windows1252ToUtf8(bytes);
        }
        bool substituted = false;
        return runIconv(
            *conv, bytes, "\xEF\xBF\xBD", [](std::size_t) { return std::size_t{1}; }, substituted);
    }
    }
}

std::string fromUtf8(std::string_view utf8, int codePage, bool* usedDefaultChar) {
    bool usedDefault = false;
    std::string out;
    const int cp = resolve(codePage);
    if (cp == kWindows1252) {
        out = utf8ToWindows1252(utf8, usedDefault);
    } else if (Converter* conv = converter(cp, false); conv != nullptr) {
        // iconv wants valid UTF-8; malformed input counts as a character the code page lacks.
        std::string clean = sanitizedUtf8(utf8);
        usedDefault = clean.size() != utf8.size() || clean != utf8;
        const auto skipCharacter = [&clean](std::size_t at) {
            std::size_t valid = 0;
            const std::size_t len = utf8SequenceLength(clean, at, valid);
            return len == 0 ? valid : len;
        };
        out = runIconv(*conv, clean, "?", skipCharacter, usedDefault);
    } else {
        out = utf8ToWindows1252(utf8, usedDefault);
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = usedDefault;
    }
    return out;
}

} // namespace parvelle::codepage
