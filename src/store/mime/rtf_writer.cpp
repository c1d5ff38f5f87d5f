#include "store/mime/rtf_writer.h"

#include "platform/text.h"

#include <cstdint>

namespace parvelle::mime {

namespace {

// Appends UTF-8 text as RTF: control characters of RTF escaped, line breaks as paragraphs, tabs
// as \tab, other control characters dropped, non-ASCII as \uN with '?' for readers without
// Unicode (\uc1 in the header says one fallback character follows). The fallback is written as
// the escape \'3f, not as a bare '?': some readers skip the whole run of text after \uN rather
// than one character.
void appendText(std::string& out, std::string_view utf8) {
    const std::u16string units = text::utf8ToUtf16(utf8);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        switch (c) {
        case u'\\':
            out += "\\\\";
            break;
        case u'{':
            out += "\\{";
            break;
        case u'}':
            out += "\\}";
            break;
        case u'\t':
            out += "\\tab ";
            break;
        case u'\r':
            if (i + 1 < units.size() && units[i + 1] == u'\n')
                ++i;
            [[fallthrough]];
        case u'\n':
            out += "\\par\r\n";
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                break;
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                // \u takes a signed 16-bit number.
                out += "\\u" + std::to_string(static_cast<std::int16_t>(c)) + "\\'3f";
            }
            break;
        }
    }
}

} // namespace

std::string rtfDocument(const MessageDocument& document) {
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1"
                      "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n"
                      "\\viewkind4\\pard\\plain\\f0\\fs20\r\n";
    for (const HeaderLine& line : document.headers) {
        out += "{\\b ";
        appendText(out, line.label);
        out += ":}\\tab ";
        appendText(out, line.value);
        out += "\\par\r\n";
    }
    out += "\\par\r\n";
    appendText(out, document.plainBody);
    out += "\r\n}\r\n";
    return out;
}

std::string writeRtfFile(const mapi::Message& message, const platform::FileTarget& target) {
    return writeDocumentFile(target, rtfDocument(makeMessageDocument(message)));
}

} // namespace parvelle::mime
