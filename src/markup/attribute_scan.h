#pragma once
// Finds an attribute in the text of a start tag or processing instruction. Lenient like the rest of
// the reader: values may be quoted with either quote or unquoted (href=/a?b=c), and an attribute
// written without a value is found with an empty one.
#include <optional>
#include <string_view>

namespace parvelle::markup {

// `tag` is the tag text behind its '<' (or behind "<?"): its first token, the element name or
// target, is skipped. Returns the raw (undecoded) value of the first attribute called `name`.
std::optional<std::string_view> findAttribute(std::string_view tag, std::string_view name,
                                              bool ignoreCase = false);

// Compares ignoring the case of A to Z only.
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

} // namespace parvelle::markup
