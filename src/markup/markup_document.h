#pragma once
// MarkupDocument: the forgiving, non-validating XML reader behind every OLM item document, with
// its loader for files and in-memory bytes. The whole document is kept as one UTF-8 text; one pass
// builds an index of element records over it, which is then navigated by a three-level cursor
// (parent, current, child) with forward-only name searches. Ill-formed documents are still
// indexed: faults are recorded as result words in Report() and navigation works over the repaired
// element tree.
//
// Texts go in and come out as UTF-8. Whatever the report counts in characters (offsets, lengths,
// its own size limit) is counted in UTF-16 code units, as Windows-side tools that read these
// reports expect; element records hold byte offsets into Text().
//
// Copies are independent: each has its own cursor. The text and index are immutable once built,
// so copies share them and copying costs no more than a few words.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::markup {

// Document flags (MarkupDocument::Flags()).
enum DocumentFlag : std::uint32_t {
    kFileUtf16LeSignature = 0x1, // the loaded bytes began with FF FE
    kFileUtf8Signature = 0x4,    // the loaded bytes began with EF BB BF
    kFileUtf16BeSignature = 0x80 // the loaded bytes began with FE FF
};

// Element record flags (ElementRecord::flags).
enum ElementFlag : std::uint32_t {
    kFirstChild = 0x80000,         // the element is the first child of its parent
    kUnended = 0x100000,           // the start tag was never ended by an end tag
    kIllFormedContent = 0x200000,  // the element's content is ill-formed
    kIllFormedDocument = 0x800000, // record 0 only: the document is ill-formed
};

// One indexed element. Offsets are byte offsets into MarkupDocument::Text(); index 0 is the
// document pseudo-element and also means "none" in every link.
struct ElementRecord {
    std::uint32_t start = 0;          // offset of the '<' of the start tag
    std::uint32_t length = 0;         // start tag through end tag
    std::uint32_t startTagLength = 0; // length of the start tag
    std::uint32_t endTagLength = 0;   // 0 for an empty element or an unended one
    std::uint32_t flags = 0;          // ElementFlag bits
    std::uint32_t level = 0; // open elements around the start tag when it was read (0 = top level)
    std::uint32_t parent = 0;
    std::uint32_t firstChild = 0;
    std::uint32_t lastChild = 0;
    std::uint32_t next = 0; // next sibling, 0 = last
};

class MarkupDocument {
public:
    // Empty text, only record 0, empty report, cursor (0,0,0), flags 0.
    MarkupDocument();

    // Replaces the text (UTF-8; invalid sequences become U+FFFD), clears the report and parses.
    // Returns Parse()'s result.
    bool SetText(std::string_view utf8);

    // Reads a file (byte-order signature, declared encoding or UTF-8 check, conversion to UTF-8)
    // and parses it. Returns false when the file cannot be opened or read (the report then holds
    // "file_error" and the document is empty); otherwise Parse()'s result.
    bool LoadFile(const std::filesystem::path& path);
    // The same for bytes already in memory (for example a member of a mapped archive); the
    // observable results are those of LoadFile on a file holding these bytes.
    bool LoadBytes(std::span<const std::byte> bytes);
    bool LoadBytes(std::string_view bytes);

    // Rebuilds the index over the current text. True only if the document is well-formed and has
    // exactly one top-level element. Resets the cursor to (0,0,0).
    bool Parse();

    // Name searches. An empty name matches any element; a name holding a character that cannot be
    // part of an element name (whitespace, '/', '=', '[', ']', ...) matches nothing. Names compare
    // exactly (case-sensitive).
    //
    // Searches the siblings after current (or, when current is 0, the children of parent from the
    // first) for the first element with this name; on success it becomes current and child is 0.
    bool FindSibling(std::string_view name = {});
    // If current is 0, first moves to the first element of the level (failing when there is
    // none); then searches the children of current after child (from the first child when child
    // is 0); on success it becomes child. When no child is found the position stays where it was
    // (after the move to the first element, if one was made).
    bool FindChild(std::string_view name = {});
    // Current becomes parent, child becomes current. Only when current is non-zero.
    bool Descend();
    // Current becomes child, parent becomes current. Only when parent is non-zero.
    bool Ascend();
    // Moves the cursor back to (0,0,0), before the first top-level element.
    void ResetPosition();

    // Decoded text of the child element: empty for no child, an empty element or one with child
    // elements; otherwise text and CDATA content with character references decoded.
    std::string ChildText() const;
    // Decoded value of the attribute `name` in the child's start tag; empty when absent.
    std::string ChildAttribute(std::string_view name) const;
    // The same two for the current element.
    std::string CurrentText() const;
    std::string CurrentAttribute(std::string_view name) const;
    // Element names at the cursor (empty when there is no element there).
    std::string_view CurrentName() const;
    std::string_view ChildName() const;

    // Cursor (record indices, 0 = none).
    std::uint32_t ParentIndex() const { return parent_; }
    std::uint32_t CurrentIndex() const { return current_; }
    std::uint32_t ChildIndex() const { return child_; }

    // The whole text as UTF-8.
    std::string_view Text() const;
    // The ParseReport: one empty markup element per event, e.g.
    // <lone_end_tag tagname="b" offset="12"/>, at most about 1,000 UTF-16 units.
    std::string_view Report() const;
    std::uint32_t Flags() const { return flags_; }
    bool IsWellFormed() const;

    // The element index, record 0 included (read-only; for inspection and tests).
    std::size_t ElementCount() const;
    const ElementRecord& Element(std::uint32_t index) const;

    struct Index; // text, report and element records; shared between copies

private:
    bool LoadDecoded(std::string text, std::string report, std::uint32_t signatureFlags);
    std::uint32_t FindElement(std::uint32_t parent, std::uint32_t after,
                              std::string_view name) const;
    std::string ElementText(std::uint32_t index) const;
    std::string ElementAttribute(std::uint32_t index, std::string_view name) const;
    std::string_view ElementName(std::uint32_t index) const;

    std::shared_ptr<const Index> index_;
    std::uint32_t parent_ = 0;
    std::uint32_t current_ = 0;
    std::uint32_t child_ = 0;
    std::uint32_t flags_ = 0;
};

} // namespace parvelle::markup
