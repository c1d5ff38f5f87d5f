#include "items/file_names.h"

namespace parvelle::items {

std::string SanitizeFileName(std::string_view text, bool alsoDots) {
    std::string out(text);
    for (char& c : out) {
        switch (c) {
        case '\\':
        case '/':
        case ':':
        case '?':
        case '*':
        case '"':
        case '<':
        case '>':
        case '|':
        case '\r':
        case '\n':
        case '\t':
            c = '_';
            break;
        case '.':
            if (alsoDots)
                c = '_';
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace parvelle::items
