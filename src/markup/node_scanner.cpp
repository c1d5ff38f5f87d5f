#include "markup/node_scanner.h"

namespace parvelle::markup {
namespace {

bool startsName(char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || u >= 'a';
}

bool endsTagName(char c) {
    return isMarkupSpace(c) || c == '/' || c == '>';
}

Node unterminated(std::string_view text, std::size_t pos, std::string_view type) {
    Node n;
    n.kind = NodeKind::Error;
    n.offset = pos;
    n.length = text.size() - pos;
    n.errorWord = "unterminated_tag_syntax";
    n.errorType = type;
    return n;
}

// A construct that cannot be read: it runs from `pos` through the next '>' found from `from`,
// or up to the next '<' when that comes first, so that a stray '<' in text costs only itself.
Node malformed(std::string_view text, std::size_t pos, std::size_t from, std::string_view word) {
    Node n;
    n.kind = NodeKind::Error;
    n.offset = pos;
    n.errorWord = word;
    const std::size_t stop = text.find_first_of("<>", from);
    if (stop == std::string_view::npos) {
        n.length = text.size() - pos;
    } else {
        n.length = (text[stop] == '>' ? stop + 1 : stop) - pos;
    }
    return n;
}

// Node of `kind` from `pos` through the first `terminator` found at or after `from`.
Node delimited(std::string_view text, std::size_t pos, std::size_t from,
               std::string_view terminator, NodeKind kind, std::string_view type) {
    const std::size_t end = text.find(terminator, from);
    if (end == std::string_view::npos) {
        return unterminated(text, pos, type);
    }
    Node n;
    n.kind = kind;
    n.offset = pos;
    n.length = end + terminator.size() - pos;
    return n;
}

Node scanStartTag(std::string_view text, std::size_t pos) {
    std::size_t i = pos + 1;
    while (i < text.size() && !endsTagName(text[i])) {
        ++i;
    }
    Node n;
    n.offset = pos;
    n.nameLength = i - pos - 1;
    // Quotes only open a value right after '='; an unquoted value runs to whitespace or '>'.
    char quote = 0;
    bool afterEquals = false;
    bool unquotedValue = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            // Quoted values can be long: jump to the closing quote.
            const std::size_t close = text.find(quote, i);
            if (close == std::string_view::npos) {
                break;
            }
            i = close;
            quote = 0;
            continue;
        }
        if (c == '>') {
            n.kind = NodeKind::StartTag;
            n.length = i + 1 - pos;
            // In <a b=c/> the '/' belongs to the value, so the element is not empty.
            if (text[i - 1] == '/') {
                const char beforeSlash = text[i - 2];
                n.emptyElement = !unquotedValue || isMarkupSpace(beforeSlash) ||
                                 beforeSlash == '"' || beforeSlash == '\'';
            }
            return n;
        }
        if (afterEquals) {
            if (c == '"' || c == '\'') {
                quote = c;
                afterEquals = false;
            } else if (!isMarkupSpace(c)) {
                unquotedValue = true;
                afterEquals = false;
            }
        } else if (unquotedValue) {
            unquotedValue = !isMarkupSpace(c);
        } else if (c == '=') {
            afterEquals = true;
        }
    }
    return unterminated(text, pos, "start_tag");
}

// Skips a quoted string that starts at text[i]; returns the index behind it or npos.
std::size_t skipQuoted(std::string_view text, std::size_t i) {
    const std::size_t close = text.find(text[i], i + 1);
    return close == std::string_view::npos ? close : close + 1;
}

Node scanDocumentType(std::string_view text, std::size_t pos) {
    std::size_t i = pos + 3;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            i = skipQuoted(text, i);
            if (i == std::string_view::npos) {
                break;
            }
            continue;
        }
        if (c == '>') {
            Node n;
            n.kind = NodeKind::DocumentType;
            n.offset = pos;
            n.length = i + 1 - pos;
            return n;
        }
        if (c != '<') {
            ++i;
            continue;
        }
        // A declaration, comment or processing instruction of the internal subset.
        if (i + 2 >= text.size()) {
            break;
        }
        std::size_t end = std::string_view::npos;
        if (text[i + 1] == '?') {
            end = text.find("?>", i + 1);
            end = end == std::string_view::npos ? end : end + 2;
        } else if (text[i + 1] != '!') {
            return malformed(text, pos, i + 1, "doctype_tag_syntax");
        } else if (text[i + 2] == '-' && i + 3 < text.size() && text[i + 3] == '-') {
            end = text.find("-->", i + 2);
            end = end == std::string_view::npos ? end : end + 3;
        } else if (text[i + 2] == 'A' || text[i + 2] == 'E' || text[i + 2] == 'N') {
            std::size_t j = i + 3;
            while (j < text.size() && text[j] != '>') {
                j = (text[j] == '"' || text[j] == '\'') ? skipQuoted(text, j) : j + 1;
            }
            end = j < text.size() ? j + 1 : std::string_view::npos;
        } else {
            return malformed(text, pos, i + 2, "doctype_tag_syntax");
        }
        if (end == std::string_view::npos) {
            break;
        }
        i = end;
    }
    return unterminated(text, pos, "document_type");
}

} // namespace

Node scanNode(std::string_view text, std::size_t pos) {
    Node n;
    n.offset = pos;
    if (pos >= text.size()) {
        return n;
    }
    if (text[pos] != '<') {
        std::size_t end = text.find('<', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        n.kind = NodeKind::Whitespace;
        for (std::size_t i = pos; i < end; ++i) {
            if (!isMarkupSpace(text[i])) {
                n.kind = NodeKind::Text;
                break;
            }
        }
        n.length = end - pos;
        return n;
    }
    if (pos + 1 >= text.size()) {
        return unterminated(text, pos, "tag");
    }
    const char c = text[pos + 1];
    if (c == '/') {
        Node end = delimited(text, pos, pos + 2, ">", NodeKind::EndTag, "end_tag");
        std::size_t i = pos + 2;
        while (i < text.size() && !endsTagName(text[i])) {
            ++i;
        }
        end.nameLength = i - pos - 2;
        return end;
    }
    if (c == '?') {
        return delimited(text, pos, pos + 1, "?>", NodeKind::ProcessingInstruction,
                         "processing_instruction");
    }
    if (startsName(c)) {
        return scanStartTag(text, pos);
    }
    if (c != '!') {
        return malformed(text, pos, pos + 1, "first_tag_syntax");
    }
    if (pos + 2 >= text.size()) {
        return unterminated(text, pos, "tag");
    }
    const char c2 = text[pos + 2];
    if (c2 == 'D') {
        return scanDocumentType(text, pos);
    }
    if (c2 != '-' && c2 != '[') {
        return malformed(text, pos, pos + 2, "exclamation_tag_syntax");
    }
    if (pos + 3 >= text.size()) {
        return unterminated(text, pos, "tag");
    }
    if (c2 == '-') {
        if (text[pos + 3] != '-') {
            return malformed(text, pos, pos + 3, "comment_tag_syntax");
        }
        return delimited(text, pos, pos + 2, "-->", NodeKind::Comment, "comment");
    }
    if (text[pos + 3] != 'C') {
        return malformed(text, pos, pos + 3, "cdata_section_syntax");
    }
    return delimited(text, pos, pos + 4, "]]>", NodeKind::CData, "cdata_section");
}

} // namespace parvelle::markup
