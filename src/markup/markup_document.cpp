#include "markup/markup_document.h"

#include "markup/attribute_scan.h"
#include "markup/character_references.h"
#include "markup/node_scanner.h"
#include "markup/parse_report.h"
#include "markup/text_file_reader.h"
#include "platform/codepage.h"

#include <limits>
#include <optional>
#include <unordered_map>

namespace parvelle::markup {

struct MarkupDocument::Index {
    std::string text;
    std::string loadReport; // what loading said; kept when the text is parsed again
    std::string report;
    std::vector<ElementRecord> records{ElementRecord{}};
    bool wellFormed = false;
};

namespace {

constexpr std::uint32_t kSignatureFlags =
    kFileUtf16LeSignature | kFileUtf8Signature | kFileUtf16BeSignature;

// Offsets are 32-bit; a longer text is kept but not indexed.
constexpr std::size_t kMaxIndexedLength = std::numeric_limits<std::uint32_t>::max() - 1;

const std::shared_ptr<const MarkupDocument::Index>& emptyIndex() {
    static const auto empty = std::make_shared<const MarkupDocument::Index>();
    return empty;
}

// Characters that end an element name when names are compared.
bool endsElementName(char c) {
    switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '!':
    case '"':
    case '\'':
    case '/':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '\\':
        return true;
    default:
        return false;
    }
}

// A search name holding any of these is a path or predicate, not a name: it matches nothing.
bool isSearchableName(std::string_view name) {
    for (const char c : name) {
        if (endsElementName(c) || c == '[' || c == ']') {
            return false;
        }
    }
    return true;
}

// Builds the element index in one pass over the text.
class IndexBuilder {
public:
    IndexBuilder(const std::string& text, std::vector<ElementRecord>& records, ParseReport& report)
        : text_(text), records_(records), report_(report) {}

    void run() {
        records_.reserve(text_.size() / 64 + 8);
        std::size_t pos = 0;
        while (true) {
            const Node node = scanNode(text_, pos);
            if (node.kind == NodeKind::End) {
                break;
            }
            pos = node.offset + node.length;
            switch (node.kind) {
            case NodeKind::StartTag:
                startTag(node);
                break;
            case NodeKind::EndTag:
                endTag(node);
                break;
            case NodeKind::Error:
                nodeError(node);
                break;
            default:
                break;
            }
        }
        unend(0, text_.size());
        records_[0].length = static_cast<std::uint32_t>(text_.size());
    }

private:
    struct Open {
        std::uint32_t record;
        std::uint32_t nameLength;
        std::int64_t previousSameName; // depth of the next open element with this name, or -1
    };

    std::string_view openName(const Open& open) const {
        return std::string_view(text_).substr(records_[open.record].start + 1, open.nameLength);
    }

    std::string utf16Offset(std::size_t offset) const {
        return std::to_string(utf16Units(std::string_view(text_).substr(0, offset)));
    }

    void startTag(const Node& node) {
        const auto index = static_cast<std::uint32_t>(records_.size());
        const std::uint32_t parent = open_.empty() ? 0 : open_.back().record;
        ElementRecord r;
        r.start = static_cast<std::uint32_t>(node.offset);
        r.length = static_cast<std::uint32_t>(node.length);
        r.startTagLength = r.length;
        r.level = static_cast<std::uint32_t>(open_.size());
        r.parent = parent;
        records_.push_back(r);
        ElementRecord& p = records_[parent];
        if (p.firstChild == 0) {
            p.firstChild = index;
            records_[index].flags |= kFirstChild;
        } else {
            records_[p.lastChild].next = index;
        }
        p.lastChild = index;
        if (!node.emptyElement) {
            push({index, static_cast<std::uint32_t>(node.nameLength), -1});
        }
    }

    void endTag(const Node& node) {
        const std::string_view name =
            std::string_view(text_).substr(node.offset + 2, node.nameLength);
        std::int64_t match = -1;
        if (!open_.empty() && openName(open_.back()) == name) {
            match = static_cast<std::int64_t>(open_.size()) - 1;
        } else if (!open_.empty()) {
            match = innermostNamed(name);
        }
        if (match < 0) {
            markIllFormed();
            if (report_.accepts()) {
                report_.add("lone_end_tag",
                            {{"tagname", name}, {"offset", utf16Offset(node.offset)}});
            }
            return;
        }
        unend(static_cast<std::size_t>(match) + 1, node.offset);
        ElementRecord& r = records_[open_.back().record];
        r.length = static_cast<std::uint32_t>(node.offset + node.length - r.start);
        r.endTagLength = static_cast<std::uint32_t>(node.length);
        pop();
    }

    void nodeError(const Node& node) {
        markIllFormed();
        if (!report_.accepts()) {
            return;
        }
        if (node.errorType.empty()) {
            report_.add(node.errorWord, {{"offset", utf16Offset(node.offset)}});
        } else {
            report_.add(node.errorWord,
                        {{"type", node.errorType}, {"offset", utf16Offset(node.offset)}});
        }
    }

    void markIllFormed() {
        records_[0].flags |= kIllFormedDocument;
        if (!open_.empty()) {
            records_[open_.back().record].flags |= kIllFormedContent;
        }
    }

    // Closes the open elements at depth `from` and deeper, which have no end tag: each keeps only
    // its start tag, and its children become its following siblings, so that they stay
    // reachable. Working outermost first moves every child exactly once.
    void unend(std::size_t from, std::size_t closedAt) {
        if (from >= open_.size()) {
            return;
        }
        records_[0].flags |= kIllFormedDocument;
        for (std::size_t d = open_.size(); d-- > from && report_.accepts();) {
            report_.add("unended_start_tag",
                        {{"tagname", openName(open_[d])},
                         {"offset", utf16Offset(records_[open_[d].record].start)},
                         {"offset2", utf16Offset(closedAt)}});
        }
        const std::uint32_t container = from == 0 ? 0 : open_[from - 1].record;
        bool illFormed = false;
        for (std::size_t d = from; d < open_.size(); ++d) {
            const std::uint32_t e = open_[d].record;
            ElementRecord& r = records_[e];
            r.flags |= kUnended;
            r.endTagLength = 0;
            r.length = r.startTagLength;
            if (r.flags & kIllFormedContent) {
                illFormed = true;
                r.flags &= ~kIllFormedContent;
            }
            if (r.firstChild != 0) {
                // `e` is the container's last child: its children follow it.
                r.next = r.firstChild;
                for (std::uint32_t c = r.firstChild; c != 0; c = records_[c].next) {
                    records_[c].parent = container;
                    records_[c].flags &= ~kFirstChild;
                }
                records_[container].lastChild = r.lastChild;
                r.firstChild = 0;
                r.lastChild = 0;
            }
        }
        if (illFormed) {
            records_[container].flags |= kIllFormedContent;
        }
        while (open_.size() > from) {
            pop();
        }
    }

    // Names of open elements are looked up through a map only once an end tag fails to match the
    // innermost element, so that well-formed documents never pay for it while deeply broken ones
    // stay linear.
    std::int64_t innermostNamed(std::string_view name) {
        if (!byName_) {
            byName_.emplace();
            for (std::size_t d = 0; d < open_.size(); ++d) {
                auto [it, inserted] = byName_->try_emplace(openName(open_[d]), -1);
                open_[d].previousSameName = it->second;
                it->second = static_cast<std::int64_t>(d);
            }
        }
        const auto it = byName_->find(name);
        return it == byName_->end() ? -1 : it->second;
    }

    void push(Open open) {
        if (byName_) {
            auto [it, inserted] = byName_->try_emplace(openName(open), -1);
            open.previousSameName = it->second;
            it->second = static_cast<std::int64_t>(open_.size());
        }
        open_.push_back(open);
    }

    void pop() {
        if (byName_) {
            (*byName_)[openName(open_.back())] = open_.back().previousSameName;
        }
        open_.pop_back();
    }

    const std::string& text_;
    std::vector<ElementRecord>& records_;
    ParseReport& report_;
    std::vector<Open> open_;
    std::optional<std::unordered_map<std::string_view, std::int64_t>> byName_;
};

std::shared_ptr<const MarkupDocument::Index> buildIndex(std::string text, std::string loadReport) {
    auto index = std::make_shared<MarkupDocument::Index>();
    index->text = std::move(text);
    index->loadReport = std::move(loadReport);
    ParseReport report(index->loadReport);
    if (index->text.size() > kMaxIndexedLength) {
        report.add("document_too_large", {{"length", std::to_string(utf16Units(index->text))}});
    } else if (!index->text.empty()) {
        IndexBuilder(index->text, index->records, report).run();
        const std::uint32_t first = index->records[0].firstChild;
        if (first == 0) {
            report.add("no_root_element");
        } else if (index->records[first].next != 0) {
            report.add("root_has_sibling");
        }
        index->wellFormed = !(index->records[0].flags & kIllFormedDocument) && first != 0 &&
                            index->records[first].next == 0;
    }
    index->report = report.take();
    return index;
}

} // namespace

MarkupDocument::MarkupDocument() : index_(emptyIndex()) {}

bool MarkupDocument::SetText(std::string_view utf8) {
    index_ = buildIndex(codepage::toUtf8(utf8, codepage::kUtf8), {});
    ResetPosition();
    return index_->wellFormed;
}

bool MarkupDocument::Parse() {
    index_ = buildIndex(index_->text, index_->loadReport);
    ResetPosition();
    return index_->wellFormed;
}

bool MarkupDocument::LoadDecoded(std::string text, std::string report,
                                 std::uint32_t signatureFlags) {
    index_ = buildIndex(std::move(text), std::move(report));
    flags_ = (flags_ & ~kSignatureFlags) | signatureFlags;
    ResetPosition();
    return index_->wellFormed;
}

bool MarkupDocument::LoadFile(const std::filesystem::path& path) {
    DecodedText decoded = readDocumentFile(path);
    if (!decoded.ok) {
        // Nothing of a previous document may survive a failed load.
        auto failed = std::make_shared<Index>();
        failed->report = std::move(decoded.report);
        index_ = std::move(failed);
        flags_ &= ~kSignatureFlags;
        ResetPosition();
        return false;
    }
    return LoadDecoded(std::move(decoded.text), std::move(decoded.report), decoded.flags);
}

bool MarkupDocument::LoadBytes(std::string_view bytes) {
    DecodedText decoded = decodeDocumentBytes(bytes);
    return LoadDecoded(std::move(decoded.text), std::move(decoded.report), decoded.flags);
}

bool MarkupDocument::LoadBytes(std::span<const std::byte> bytes) {
    return LoadBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void MarkupDocument::ResetPosition() {
    parent_ = 0;
    current_ = 0;
    child_ = 0;
}

std::string_view MarkupDocument::ElementName(std::uint32_t index) const {
    if (index == 0) {
        return {};
    }
    const ElementRecord& r = index_->records[index];
    const std::string_view tag = std::string_view(index_->text).substr(r.start, r.startTagLength);
    std::size_t end = 1;
    while (end < tag.size() && !endsElementName(tag[end])) {
        ++end;
    }
    return tag.substr(1, end - 1);
}

std::uint32_t MarkupDocument::FindElement(std::uint32_t parent, std::uint32_t after,
                                          std::string_view name) const {
    const auto& records = index_->records;
    std::uint32_t i = after != 0 ? records[after].next : records[parent].firstChild;
    if (name.empty()) {
        return i;
    }
    if (!isSearchableName(name)) {
        return 0;
    }
    while (i != 0 && ElementName(i) != name) {
        i = records[i].next;
    }
    return i;
}

bool MarkupDocument::FindSibling(std::string_view name) {
    const std::uint32_t found = FindElement(parent_, current_, name);
    if (found == 0) {
        return false;
    }
    current_ = found;
    parent_ = index_->records[found].parent;
    child_ = 0;
    return true;
}

bool MarkupDocument::FindChild(std::string_view name) {
    if (current_ == 0 && !FindSibling()) {
        return false;
    }
    const std::uint32_t found = FindElement(current_, child_, name);
    if (found == 0) {
        return false;
    }
    child_ = found;
    current_ = index_->records[found].parent;
    parent_ = index_->records[current_].parent;
    return true;
}

bool MarkupDocument::Descend() {
    if (current_ == 0) {
        return false;
    }
    parent_ = current_;
    current_ = child_;
    child_ = 0;
    return true;
}

bool MarkupDocument::Ascend() {
    if (parent_ == 0) {
        return false;
    }
    child_ = current_;
    current_ = parent_;
    parent_ = index_->records[current_].parent;
    return true;
}

std::string MarkupDocument::ElementText(std::uint32_t index) const {
    if (index == 0) {
        return {};
    }
    const ElementRecord& r = index_->records[index];
    if (r.length <= r.startTagLength || r.firstChild != 0) {
        return {};
    }
    const std::size_t begin = r.start + r.startTagLength;
    const std::size_t end = r.start + r.length - r.endTagLength;
    const std::string_view text = index_->text;
    const std::string_view content = text.substr(begin, end - begin);
    if (content.find('<') == std::string_view::npos) {
        return decodeReferences(content);
    }
    // Text and CDATA sections in order; comments, processing instructions and whitespace between
    // them are not part of the value.
    std::string out;
    out.reserve(content.size());
    const std::string_view bounded = text.substr(0, end);
    std::size_t pos = begin;
    while (true) {
        const Node node = scanNode(bounded, pos);
        if (node.kind == NodeKind::End) {
            break;
        }
        pos = node.offset + node.length;
        if (node.kind == NodeKind::Text) {
            appendDecoded(out, text.substr(node.offset, node.length));
        } else if (node.kind == NodeKind::CData) {
            constexpr std::size_t kOpen = 9;  // "<![CDATA["
            constexpr std::size_t kClose = 3; // "]]>"
            if (node.length >= kOpen + kClose) {
                out.append(text.substr(node.offset + kOpen, node.length - kOpen - kClose));
            }
        }
    }
    return out;
}

std::string MarkupDocument::ElementAttribute(std::uint32_t index, std::string_view name) const {
    if (index == 0) {
        return {};
    }
    const ElementRecord& r = index_->records[index];
    const std::string_view tag =
        std::string_view(index_->text).substr(r.start + 1, r.startTagLength - 1);
    const auto value = findAttribute(tag, name);
    return value ? decodeReferences(*value) : std::string{};
}

std::string MarkupDocument::ChildText() const {
    return ElementText(child_);
}
std::string MarkupDocument::ChildAttribute(std::string_view name) const {
    return ElementAttribute(child_, name);
}
std::string MarkupDocument::CurrentText() const {
    return ElementText(current_);
}
std::string MarkupDocument::CurrentAttribute(std::string_view name) const {
    return ElementAttribute(current_, name);
}
std::string_view MarkupDocument::CurrentName() const {
    return ElementName(current_);
}
std::string_view MarkupDocument::ChildName() const {
    return ElementName(child_);
}

std::string_view MarkupDocument::Text() const {
    return index_->text;
}
std::string_view MarkupDocument::Report() const {
    return index_->report;
}
bool MarkupDocument::IsWellFormed() const {
    return index_->wellFormed;
}
std::size_t MarkupDocument::ElementCount() const {
    return index_->records.size();
}

const ElementRecord& MarkupDocument::Element(std::uint32_t index) const {
    static const ElementRecord none;
    return index < index_->records.size() ? index_->records[index] : none;
}

} // namespace parvelle::markup
