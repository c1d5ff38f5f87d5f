#include "markup/parse_report.h"

namespace parvelle::markup {

ParseReport::ParseReport(std::string text) : text_(std::move(text)), units_(utf16Units(text_)) {}

std::string ParseReport::render(std::string_view word,
                                std::initializer_list<Attribute> attributes) {
    std::string out = "<";
    out.append(word);
    for (const auto& [name, value] : attributes) {
        out.push_back(' ');
        out.append(name);
        out.append("=\"");
        for (const char c : value) {
            switch (c) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            case '"':
                out.append("&quot;");
                break;
            case '\'':
                out.append("&apos;");
                break;
            default:
                out.push_back(c);
            }
        }
        out.push_back('"');
    }
    out.append("/>");
    return out;
}

ParseReport::Entry ParseReport::add(std::string_view word,
                                    std::initializer_list<Attribute> attributes) {
    if (!accepts()) {
        return {};
    }
    const std::string entry = render(word, attributes);
    Entry where{text_.size(), entry.size()};
    text_.append(entry);
    units_ += utf16Units(entry);
    return where;
}

void ParseReport::replace(Entry& entry, std::string_view word,
                          std::initializer_list<Attribute> attributes) {
    if (entry.at == std::string::npos) {
        return;
    }
    const std::string updated = render(word, attributes);
    units_ -= utf16Units(std::string_view(text_).substr(entry.at, entry.length));
    text_.replace(entry.at, entry.length, updated);
    units_ += utf16Units(updated);
    entry.length = updated.size();
}

} // namespace parvelle::markup
