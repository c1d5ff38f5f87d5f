#pragma once
// Character references in text and attribute values: &#65;, &#x41;, and the named references of
// HTML 4 plus &apos;. Anything that is not a complete known reference stays as written.
#include <string>
#include <string_view>

namespace parvelle::markup {

// Appends `raw` to `out` with every reference replaced by its character (UTF-8).
void appendDecoded(std::string& out, std::string_view raw);
std::string decodeReferences(std::string_view raw);

// Code point of a named reference as written between '&' and ';', or 0 when unknown.
char32_t namedReference(std::string_view name);

} // namespace parvelle::markup
