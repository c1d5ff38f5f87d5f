#pragma once
// Splits markup text into nodes one at a time: start and end tags, text, whitespace, CDATA
// sections, processing instructions, comments and document types. It never fails: a construct it
// cannot read comes back as an error node that says why, and scanning goes on behind it.
#include <cstddef>
#include <string_view>

namespace parvelle::markup {

enum class NodeKind : int {
    EndTag = 0,
    StartTag = 1,
    Text = 2,
    Whitespace = 4,
    CData = 8,
    ProcessingInstruction = 16,
    Comment = 32,
    DocumentType = 64,
    Error = -1,
    End = -2,
};

struct Node {
    NodeKind kind = NodeKind::End;
    std::size_t offset = 0;
    std::size_t length = 0;
    // Start and end tags: length of the name that follows "<" or "</".
    std::size_t nameLength = 0;
    // Start tags: written as <name .../>.
    bool emptyElement = false;
    // Error nodes: the result word ("first_tag_syntax", "unterminated_tag_syntax", ...) and, for
    // an unterminated construct, its type ("start_tag", "comment", ...).
    std::string_view errorWord;
    std::string_view errorType;
};

// Scans the node that starts at `pos` in `text`. Every node but End has a length of at least one,
// so repeated calls always make progress.
Node scanNode(std::string_view text, std::size_t pos);

inline bool isMarkupSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace parvelle::markup
