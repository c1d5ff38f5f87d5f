#include "markup/character_references.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace parvelle::markup {
namespace {

// The named references keyed by their lower-case spelling. Where HTML has two names that differ
// only in case (Alpha/alpha, dArr/darr, OElig/oelig, ...) the row holds both.
struct NamedReference {
    std::string_view key;      // lower case
    std::string_view capital;  // the spelling with capitals, empty when there is no pair
    char32_t capitalCodePoint; // its character (the only one when there is no pair)
    char32_t codePoint;        // the character of the lower-case spelling
};

constexpr NamedReference kNamedReferences[] = {
    {"aacute", "Aacute", 193, 225},
    {"acirc", "Acirc", 194, 226},
    {"acute", "", 180, 180},
    {"aelig", "AElig", 198, 230},
    {"agrave", "Agrave", 192, 224},
    {"alefsym", "", 8501, 8501},
    {"alpha", "Alpha", 913, 945},
    {"amp", "", 38, 38},
    {"and", "", 8743, 8743},
    {"ang", "", 8736, 8736},
    {"apos", "", 39, 39},
    {"aring", "Aring", 197, 229},
    {"asymp", "", 8776, 8776},
    {"atilde", "Atilde", 195, 227},
    {"auml", "Auml", 196, 228},
    {"bdquo", "", 8222, 8222},
    {"beta", "Beta", 914, 946},
    {"brvbar", "", 166, 166},
    {"bull", "", 8226, 8226},
    {"cap", "", 8745, 8745},
    {"ccedil", "Ccedil", 199, 231},
    {"cedil", "", 184, 184},
    {"cent", "", 162, 162},
    {"chi", "Chi", 935, 967},
    {"circ", "", 710, 710},
    {"clubs", "", 9827, 9827},
    {"cong", "", 8773, 8773},
    {"copy", "", 169, 169},
    {"crarr", "", 8629, 8629},
    {"cup", "", 8746, 8746},
    {"curren", "", 164, 164},
    {"dagger", "Dagger", 8225, 8224},
    {"darr", "dArr", 8659, 8595},
    {"deg", "", 176, 176},
    {"delta", "Delta", 916, 948},
    {"diams", "", 9830, 9830},
    {"divide", "", 247, 247},
    {"eacute", "Eacute", 201, 233},
    {"ecirc", "Ecirc", 202, 234},
    {"egrave", "Egrave", 200, 232},
    {"empty", "", 8709, 8709},
    {"emsp", "", 8195, 8195},
    {"ensp", "", 8194, 8194},
    {"epsilon", "Epsilon", 917, 949},
    {"equiv", "", 8801, 8801},
    {"eta", "Eta", 919, 951},
    {"eth", "ETH", 208, 240},
    {"euml", "Euml", 203, 235},
    {"euro", "", 8364, 8364},
    {"exist", "", 8707, 8707},
    {"fnof", "", 402, 402},
    {"forall", "", 8704, 8704},
    {"frac12", "", 189, 189},
    {"frac14", "", 188, 188},
    {"frac34", "", 190, 190},
    {"frasl", "", 8260, 8260},
    {"gamma", "Gamma", 915, 947},
    {"ge", "", 8805, 8805},
    {"gt", "", 62, 62},
    {"harr", "hArr", 8660, 8596},
    {"hearts", "", 9829, 9829},
    {"hellip", "", 8230, 8230},
    {"iacute", "Iacute", 205, 237},
    {"icirc", "Icirc", 206, 238},
    {"iexcl", "", 161, 161},
    {"igrave", "Igrave", 204, 236},
    {"image", "", 8465, 8465},
    {"infin", "", 8734, 8734},
    {"int", "", 8747, 8747},
    {"iota", "Iota", 921, 953},
    {"iquest", "", 191, 191},
    {"isin", "", 8712, 8712},
    {"iuml", "Iuml", 207, 239},
    {"kappa", "Kappa", 922, 954},
    {"lambda", "Lambda", 923, 955},
    {"lang", "", 9001, 9001},
    {"laquo", "", 171, 171},
    {"larr", "lArr", 8656, 8592},
    {"lceil", "", 8968, 8968},
    {"ldquo", "", 8220, 8220},
    {"le", "", 8804, 8804},
    {"lfloor", "", 8970, 8970},
    {"lowast", "", 8727, 8727},
    {"loz", "", 9674, 9674},
    {"lrm", "", 8206, 8206},
    {"lsaquo", "", 8249, 8249},
    {"lsquo", "", 8216, 8216},
    {"lt", "", 60, 60},
    {"macr", "", 175, 175},
    {"mdash", "", 8212, 8212},
    {"micro", "", 181, 181},
    {"middot", "", 183, 183},
    {"minus", "", 8722, 8722},
    {"mu", "Mu", 924, 956},
    {"nabla", "", 8711, 8711},
    {"nbsp", "", 160, 160},
    {"ndash", "", 8211, 8211},
    {"ne", "", 8800, 8800},
    {"ni", "", 8715, 8715},
    {"not", "", 172, 172},
    {"notin", "", 8713, 8713},
    {"nsub", "", 8836, 8836},
    {"ntilde", "Ntilde", 209, 241},
    {"nu", "Nu", 925, 957},
    {"oacute", "Oacute", 211, 243},
    {"ocirc", "Ocirc", 212, 244},
    {"oelig", "OElig", 338, 339},
    {"ograve", "Ograve", 210, 242},
    {"oline", "", 8254, 8254},
    {"omega", "Omega", 937, 969},
    {"omicron", "Omicron", 927, 959},
    {"oplus", "", 8853, 8853},
    {"or", "", 8744, 8744},
    {"ordf", "", 170, 170},
    {"ordm", "", 186, 186},
    {"oslash", "Oslash", 216, 248},
    {"otilde", "Otilde", 213, 245},
    {"otimes", "", 8855, 8855},
    {"ouml", "Ouml", 214, 246},
    {"para", "", 182, 182},
    {"part", "", 8706, 8706},
    {"permil", "", 8240, 8240},
    {"perp", "", 8869, 8869},
    {"phi", "Phi", 934, 966},
    {"pi", "Pi", 928, 960},
    {"piv", "", 982, 982},
    {"plusmn", "", 177, 177},
    {"pound", "", 163, 163},
    {"prime", "Prime", 8243, 8242},
    {"prod", "", 8719, 8719},
    {"prop", "", 8733, 8733},
    {"psi", "Psi", 936, 968},
    {"quot", "", 34, 34},
    {"radic", "", 8730, 8730},
    {"rang", "", 9002, 9002},
    {"raquo", "", 187, 187},
    {"rarr", "rArr", 8658, 8594},
    {"rceil", "", 8969, 8969},
    {"rdquo", "", 8221, 8221},
    {"real", "", 8476, 8476},
    {"reg", "", 174, 174},
    {"rfloor", "", 8971, 8971},
    {"rho", "Rho", 929, 961},
    {"rlm", "", 8207, 8207},
    {"rsaquo", "", 8250, 8250},
    {"rsquo", "", 8217, 8217},
    {"sbquo", "", 8218, 8218},
    {"scaron", "Scaron", 352, 353},
    {"sdot", "", 8901, 8901},
    {"sect", "", 167, 167},
    {"shy", "", 173, 173},
    {"sigma", "Sigma", 931, 963},
    {"sigmaf", "", 962, 962},
    {"sim", "", 8764, 8764},
    {"spades", "", 9824, 9824},
    {"sub", "", 8834, 8834},
    {"sube", "", 8838, 8838},
    {"sum", "", 8721, 8721},
    {"sup", "", 8835, 8835},
    {"sup1", "", 185, 185},
    {"sup2", "", 178, 178},
    {"sup3", "", 179, 179},
    {"supe", "", 8839, 8839},
    {"szlig", "", 223, 223},
    {"tau", "Tau", 932, 964},
    {"there4", "", 8756, 8756},
    {"theta", "Theta", 920, 952},
    {"thetasym", "", 977, 977},
    {"thinsp", "", 8201, 8201},
    {"thorn", "THORN", 222, 254},
    {"tilde", "", 732, 732},
    {"times", "", 215, 215},
    {"trade", "", 8482, 8482},
    {"uacute", "Uacute", 218, 250},
    {"uarr", "uArr", 8657, 8593},
    {"ucirc", "Ucirc", 219, 251},
    {"ugrave", "Ugrave", 217, 249},
    {"uml", "", 168, 168},
    {"upsih", "", 978, 978},
    {"upsilon", "Upsilon", 933, 965},
    {"uuml", "Uuml", 220, 252},
    {"weierp", "", 8472, 8472},
    {"xi", "Xi", 926, 958},
    {"yacute", "Yacute", 221, 253},
    {"yen", "", 165, 165},
    {"yuml", "Yuml", 376, 255},
    {"zeta", "Zeta", 918, 950},
    {"zwj", "", 8205, 8205},
    {"zwnj", "", 8204, 8204},
};

static_assert(std::is_sorted(std::begin(kNamedReferences), std::end(kNamedReferences),
                             [](const NamedReference& a, const NamedReference& b) {
                                 return a.key < b.key;
                             }));

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

// Value of a numeric reference body ("#65", "#x41"); the digits end at the first non-digit.
char32_t numericReference(std::string_view body) {
    std::uint32_t value = 0;
    if (body.size() > 1 && (body[1] == 'x' || body[1] == 'X')) {
        for (const char c : body.substr(2)) {
            int digit = -1;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            }
            if (digit < 0) {
                break;
            }
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
    } else {
        for (const char c : body.substr(1)) {
            if (c < '0' || c > '9') {
                break;
            }
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        }
    }
    return value;
}

// A reference body is at most nine ASCII characters before its ';'.
constexpr std::size_t kMaxReferenceLength = 9;

} // namespace

char32_t namedReference(std::string_view name) {
    if (name.empty() || name.size() > kMaxReferenceLength) {
        return 0;
    }
    std::array<char, kMaxReferenceLength> lower{};
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lower.data(), name.size());
    const auto* it =
        std::lower_bound(std::begin(kNamedReferences), std::end(kNamedReferences), key,
                         [](const NamedReference& r, std::string_view k) { return r.key < k; });
    if (it == std::end(kNamedReferences) || it->key != key) {
        return 0;
    }
    if (it->capital.empty() || name == it->key) {
        return it->codePoint;
    }
    // The exact spelling wins (dArr is not darr); otherwise a leading capital picks the
    // capitalised name of the pair, as in &ALPHA; for U+0391.
    if (name == it->capital || (name[0] >= 'A' && name[0] <= 'Z')) {
        return it->capitalCodePoint;
    }
    return it->codePoint;
}

void appendDecoded(std::string& out, std::string_view raw) {
    std::size_t i = 0;
    while (i < raw.size()) {
        const std::size_t amp = raw.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(raw.substr(i));
            return;
        }
        out.append(raw.substr(i, amp - i));
        std::size_t end = amp + 1;
        while (end < raw.size() && end - amp - 1 < kMaxReferenceLength &&
               static_cast<unsigned char>(raw[end]) < 0x80 && raw[end] != ';') {
            ++end;
        }
        char32_t value = 0;
        if (end < raw.size() && raw[end] == ';') {
            const std::string_view body = raw.substr(amp + 1, end - amp - 1);
            value =
                (!body.empty() && body[0] == '#') ? numericReference(body) : namedReference(body);
        }
        if (value == 0) {
            out.push_back('&');
            i = amp + 1;
            continue;
        }
        // Surrogates and values beyond Unicode have no character; keep the text valid UTF-8.
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            value = 0xFFFD;
        }
        appendUtf8(out, value);
        i = end + 1;
    }
}

std::string decodeReferences(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    appendDecoded(out, raw);
    return out;
}

} // namespace parvelle::markup
