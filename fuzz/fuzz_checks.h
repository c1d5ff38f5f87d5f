#pragma once
// Checks the fuzz targets share: what every Internet message the writers make must hold whatever
// went into it (lines end in CRLF and stay within 998 octets, the header is 7-bit with
// continuation lines that start with white space, the subject decodes: see checkEml), and the
// text a string property reads back as.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoded_words.h"
#include "platform/text.h"

namespace parvelle::fuzz {

// Reports the broken promise with the text concerned, bytes outside printable ASCII in hex.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "%s: ", what);
    for (unsigned char c : detail)
        std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

// A string property as it reads back from an MSG or PST file: valid UTF-8 (what is not becomes
// U+FFFD) without the NULs that end it (readers drop a terminating NUL with any before it).
inline std::string storedText(std::string_view utf8) {
    std::string shown = text::sanitizeUtf8(utf8);
    while (!shown.empty() && shown.back() == '\0')
        shown.pop_back();
    return shown;
}

// Checks the message's form and returns its subject as a reader shows it (empty without one).
inline std::string checkEml(const std::string& eml) {
    // Lines: CRLF only, at most 998 octets before it.
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < eml.size(); ++i) {
        if (eml[i] == '\n' && (i == 0 || eml[i - 1] != '\r'))
            fail("bare LF", eml.substr(lineStart, i - lineStart));
        if (eml[i] == '\r' && (i + 1 >= eml.size() || eml[i + 1] != '\n'))
            fail("bare CR", eml.substr(lineStart, i - lineStart));
        if (eml[i] == '\n') {
            if (i - 1 - lineStart > 998)
                fail("line longer than 998 octets", eml.substr(lineStart, 80));
            lineStart = i + 1;
        }
    }
    if (eml.size() - lineStart > 998)
        fail("last line longer than 998 octets");

    // The header: 7-bit fields, continuation lines that start with white space.
    const std::size_t headerEnd = eml.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        fail("no end of header");
    const std::string_view header = std::string_view(eml).substr(0, headerEnd + 2);
    for (char c : header)
        if (static_cast<unsigned char>(c) >= 0x80 ||
            (c < 0x20 && c != '\r' && c != '\n' && c != '\t'))
            fail("header byte outside printable ASCII", header);
    std::string subjectField;
    bool inSubject = false;
    for (std::size_t at = 0; at < header.size();) {
        const std::size_t end = header.find("\r\n", at);
        const std::string_view line = header.substr(at, end - at);
        if (line.empty())
            fail("empty header line");
        if (line[0] == ' ' || line[0] == '\t') {
            if (at == 0)
                fail("header starts with a continuation line");
            if (inSubject)
                subjectField += "\r\n" + std::string(line);
        } else {
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos || colon == 0)
                fail("header line without a field name", line);
            inSubject = line.substr(0, colon) == "Subject";
            if (inSubject)
                subjectField = std::string(line.substr(colon + 1));
        }
        at = end + 2;
    }
    // The value after the colon's one space.
    if (!subjectField.empty() && subjectField[0] == ' ')
        subjectField.erase(0, 1);
    // Unfolded, encoded words decoded.
    std::string unfolded;
    for (std::size_t at = 0; at < subjectField.size(); ++at)
        if (subjectField.compare(at, 2, "\r\n") == 0)
            ++at;
        else
            unfolded.push_back(subjectField[at]);
    return testing::decodeHeader(unfolded);
}

} // namespace parvelle::fuzz
