#pragma once
// The element tree of one OLM document and its serialisation in Outlook's form: no declaration,
// no whitespace between elements, xml:space="preserve" first, then the other attributes and the
// child elements in alphabetical (byte) order, because the readers look children up with a
// forward-only search in that order.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parvelle::olmgen {

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes; // without xml:space
    std::string text;
    std::vector<XmlElement> children;
    bool preserveSpace = true;

    explicit XmlElement(std::string elementName, std::string elementText = {})
        : name(std::move(elementName)), text(std::move(elementText)) {}

    XmlElement& attribute(std::string attributeName, std::string value);
    // Adds an attribute only when the value is not empty.
    XmlElement& optionalAttribute(std::string attributeName, std::string value);
    XmlElement& child(XmlElement element);
    // Adds a text child only when the text is not empty.
    XmlElement& optionalChild(std::string childName, std::string childText);
};

// Appends the element to `out`; children are written sorted by name (equal names keep their
// order), attributes likewise.
void renderXml(const XmlElement& element, std::string& out);

// Character data and attribute value escaping.
void appendEscaped(std::string_view text, std::string& out, bool inAttribute);

} // namespace parvelle::olmgen
