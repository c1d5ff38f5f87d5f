#include "markup/text_file_reader.h"

#include "markup/attribute_scan.h"
#include "markup/encoding_table.h"
#include "markup/markup_document.h"
#include "markup/node_scanner.h"
#include "markup/parse_report.h"
#include "platform/codepage.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parvelle::markup {
namespace {

// Only the start of a document is searched for its encoding declaration.
constexpr std::size_t kSniffLength = 1024;

struct Signature {
    std::string_view bytes;
    std::string_view encoding;
    std::uint32_t flag;
    std::size_t unit;
};

constexpr Signature kSignatures[] = {
    {"\xEF\xBB\xBF", "UTF-8", kFileUtf8Signature, 1},
    {"\xFF\xFE", "UTF-16LE", kFileUtf16LeSignature, 2},
    {"\xFE\xFF", "UTF-16BE", kFileUtf16BeSignature, 2},
};

// The lenient check that decides between UTF-8 and the ANSI code page: a lead byte announces one
// to three following bytes, each of which only needs its high bit set.
bool looksLikeUtf8(std::string_view data) {
    std::size_t i = 0;
    while (i < data.size()) {
        const auto b = static_cast<unsigned char>(data[i++]);
        if (b == 0) {
            return true;
        }
        if (b < 0x80) {
            continue;
        }
        std::size_t follow = 0;
        if (!(b & 0x20)) {
            follow = 1;
        } else if (!(b & 0x10)) {
            follow = 2;
        } else if (!(b & 0x08)) {
            follow = 3;
        } else {
            return false;
        }
        for (; follow > 0; --follow) {
            if (i >= data.size() || !(static_cast<unsigned char>(data[i++]) & 0x80)) {
                return false;
            }
        }
    }
    return true;
}

struct Utf8Check {
    bool valid = false;
    std::size_t utf16Units = 0;
};

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF: what converts to itself), and how many UTF-16 units they make.
Utf8Check checkUtf8(std::string_view s) {
    Utf8Check check;
    check.valid = true;
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const std::size_t run = text::asciiRunEnd(s, i);
        check.utf16Units += run - i;
        i = run;
        if (i == n)
            break;
        std::size_t valid = 0;
        const std::size_t length = codepage::utf8SequenceLength(s, i, valid);
        if (length == 0) {
            check.valid = false;
            return check;
        }
        i += length;
        check.utf16Units += length == 4 ? 2 : 1;
    }
    return check;
}

// The first bytes of well-formed UTF-8, cut back to a character boundary.
std::string_view utf8Head(std::string_view s, std::size_t length) {
    if (length >= s.size()) {
        return s;
    }
    while (length > 0 && (static_cast<unsigned char>(s[length]) & 0xC0) == 0x80) {
        --length;
    }
    return s.substr(0, length);
}

// A declaration of UTF-16 or UTF-32 that we could read as 8-bit text is wrong about the bytes.
bool isWideCodePage(int codePage) {
    return codePage == codepage::kUtf16Le || codePage == codepage::kUtf16Be ||
           codePage == codepage::kUtf32Le || codePage == codepage::kUtf32Be ||
           codePage == kUtf32CodePoints;
}

// UTF-16 without a signature still starts with '<' in one byte and zero in the other.
std::string_view unsignedUtf16(std::string_view bytes) {
    if (bytes.size() < 4) {
        return {};
    }
    if (bytes[0] == '<' && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0) {
        return "UTF-16LE";
    }
    if (bytes[0] == 0 && bytes[1] == '<' && bytes[2] == 0 && bytes[3] != 0) {
        return "UTF-16BE";
    }
    return {};
}

// Drops zero units (bytes, or 16-bit units), returning how many there were.
std::size_t removeZeroUnits(std::string& data, std::size_t unit) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i + unit <= data.size(); i += unit) {
        const bool zero = data[i] == 0 && (unit == 1 || data[i + 1] == 0);
        if (!zero) {
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(i), unit,
                        data.begin() + static_cast<std::ptrdiff_t>(kept));
            kept += unit;
        }
    }
    const std::size_t removed = (data.size() - kept) / unit;
    data.resize(kept);
    return removed;
}

bool hasZeroUnit(std::string_view data, std::size_t unit) {
    if (unit == 1) {
        return data.find('\0') != std::string_view::npos;
    }
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        if (data[i] == 0 && data[i + 1] == 0) {
            return true;
        }
    }
    return false;
}

// The charset value inside a Content-Type such as "text/html; charset=windows-1252".
std::string charsetOf(std::string_view content) {
    constexpr std::string_view kSpecial = " \t\n\r<>=\\/?!\"';";
    std::size_t i = 0;
    const auto nextToken = [&]() -> std::string_view {
        while (i < content.size() && isMarkupSpace(content[i])) {
            ++i;
        }
        const std::size_t begin = i;
        if (i < content.size() && kSpecial.find(content[i]) != std::string_view::npos) {
            ++i;
        } else {
            while (i < content.size() && kSpecial.find(content[i]) == std::string_view::npos) {
                ++i;
            }
        }
        return content.substr(begin, i - begin);
    };
    while (i < content.size()) {
        const std::string_view token = nextToken();
        if (token.empty()) {
            break;
        }
        if (equalsIgnoreAsciiCase(token, "charset")) {
            const std::size_t resume = i;
            if (nextToken() == "=") {
                return std::string(nextToken());
            }
            i = resume;
        }
    }
    return {};
}

std::string systemMessage(int error) {
    std::string msg = std::strerror(error);
    msg = msg.substr(0, msg.find_first_of("\r\n"));
    if (msg.size() > 100) {
        msg.resize(100);
    }
    return text::sanitizeUtf8(msg);
}

void reportFileError(ParseReport& report, int error) {
    report.add("file_error", {{"msg", systemMessage(error)}, {"n", std::to_string(error)}});
}

} // namespace

std::string declaredEncoding(std::string_view head) {
    bool html = false;
    std::size_t pos = 0;
    while (true) {
        const Node node = scanNode(head, pos);
        if (node.kind == NodeKind::End || node.kind == NodeKind::Error) {
            return {};
        }
        pos = node.offset + node.length;
        const std::string_view tag = head.substr(node.offset, node.length);
        if (node.kind == NodeKind::ProcessingInstruction && node.offset == 0) {
            std::string_view target = tag.substr(2);
            const std::size_t begin = target.find_first_not_of(" \t\n\r");
            target = begin == std::string_view::npos ? std::string_view{} : target.substr(begin);
            const std::size_t end = target.find_first_of(" \t\n\r<>=\\/?!\"';");
            if (equalsIgnoreAsciiCase(target.substr(0, end), "xml")) {
                return std::string(findAttribute(tag.substr(2), "encoding", true).value_or(""));
            }
        } else if (node.kind == NodeKind::EndTag) {
            if (equalsIgnoreAsciiCase(tag.substr(2, node.nameLength), "head")) {
                return {};
            }
        } else if (node.kind == NodeKind::StartTag) {
            const std::string_view name = tag.substr(1, node.nameLength);
            if (!html) {
                if (!equalsIgnoreAsciiCase(name, "html")) {
                    return {};
                }
                html = true;
            } else if (equalsIgnoreAsciiCase(name, "meta")) {
                const auto equiv = findAttribute(tag.substr(1), "http-equiv", true);
                if (equiv && equalsIgnoreAsciiCase(*equiv, "Content-Type")) {
                    return charsetOf(findAttribute(tag.substr(1), "content", true).value_or(""));
                }
            }
        }
    }
}

DecodedText decodeDocumentBytes(std::string_view bytes) {
    DecodedText out;
    out.ok = true;
    if (bytes.empty()) {
        return out;
    }
    ParseReport report;
    std::string encoding;
    std::size_t unit = 1;
    std::size_t skip = 0;
    for (const Signature& sig : kSignatures) {
        if (bytes.substr(0, sig.bytes.size()) == sig.bytes) {
            encoding = sig.encoding;
            out.flags = sig.flag;
            unit = sig.unit;
            skip = sig.bytes.size();
            report.add("bom");
            break;
        }
    }
    // Item documents are nearly always well-formed UTF-8, which converts to itself: then the
    // start is searched for a declaration in place, and the text is a plain copy.
    Utf8Check utf8;
    if (skip == 0) {
        if (const std::string_view wide = unsignedUtf16(bytes); !wide.empty()) {
            encoding = wide;
            unit = 2;
        } else {
            utf8 = checkUtf8(bytes);
            // Cutting the start at a character boundary instead of converting the cut character
            // finds the same declaration: a construct that runs into the cut is unterminated
            // either way, and text is not looked at.
            encoding = utf8.valid ? declaredEncoding(utf8Head(bytes, kSniffLength))
                                  : declaredEncoding(codepage::toUtf8(bytes.substr(0, kSniffLength),
                                                                      codepage::kUtf8));
            if (isWideCodePage(encodingCodePage(encoding))) {
                encoding.clear();
            }
            if (encoding.empty() && bytes[0] == '<') {
                encoding = "UTF-8";
            }
        }
    }

    std::string_view data = bytes.substr(skip);
    if (unit == 2) {
        data = data.substr(0, data.size() & ~std::size_t{1});
    }
    const std::string length = std::to_string(data.size() / unit);
    ParseReport::Entry readEntry = report.add("read", {{"encoding", encoding}, {"length", length}});
    std::string withoutZeros;
    const bool zerosRemoved = hasZeroUnit(data, unit);
    if (zerosRemoved) {
        withoutZeros.assign(data);
        const std::size_t removed = removeZeroUnits(withoutZeros, unit);
        report.add("nulls_removed", {{"count", std::to_string(removed)}});
        data = withoutZeros;
    }

    if (unit == 2) {
        const bool bigEndian = encoding == "UTF-16BE";
        if (bigEndian) {
            report.add("endian_swap");
        }
        out.text = codepage::toUtf8(data, bigEndian ? codepage::kUtf16Be : codepage::kUtf16Le);
        out.report = report.take();
        return out;
    }
    if (encoding.empty()) {
        if (looksLikeUtf8(data)) {
            encoding = "UTF-8";
            report.replace(readEntry, "read", {{"encoding", encoding}, {"length", length}});
        }
        report.add("utf8_detection");
    }
    const int codePage = encodingCodePage(encoding);
    if (utf8.valid && !zerosRemoved && codePage == codepage::kUtf8) {
        out.text.assign(data);
        report.add("converted_to",
                   {{"encoding", "UTF-16"}, {"length", std::to_string(utf8.utf16Units)}});
        out.report = report.take();
        return out;
    }
    out.text = codepage::toUtf8(data, codePage < 0 ? codepage::kAnsi : codePage);
    report.add("converted_to",
               {{"encoding", "UTF-16"}, {"length", std::to_string(utf16Units(out.text))}});
    out.report = report.take();
    return out;
}

DecodedText readDocumentFile(const std::filesystem::path& path) {
    DecodedText failed;
    ParseReport report;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reportFileError(report, errno);
        failed.report = report.take();
        return failed;
    }
    std::string bytes;
    struct stat st {};
    int error = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (error == 0 && st.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buffer[1 << 16];
    while (error == 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    const int closeError = ::close(fd) == 0 ? 0 : errno;
    if (error != 0) {
        reportFileError(report, error);
        failed.report = report.take();
        return failed;
    }
    DecodedText decoded = decodeDocumentBytes(bytes);
    if (closeError != 0) {
        ParseReport withClose(std::move(decoded.report));
        reportFileError(withClose, closeError);
        decoded.report = withClose.take();
    }
    return decoded;
}

} // namespace parvelle::markup
