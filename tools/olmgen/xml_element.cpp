#include "olmgen/xml_element.h"

#include <algorithm>

namespace parvelle::olmgen {

XmlElement& XmlElement::attribute(std::string attributeName, std::string value) {
    attributes.emplace_back(std::move(attributeName), std::move(value));
    return *this;
}

XmlElement& XmlElement::optionalAttribute(std::string attributeName, std::string value) {
    if (!value.empty()) {
        attribute(std::move(attributeName), std::move(value));
    }
    return *this;
}

XmlElement& XmlElement::child(XmlElement element) {
    children.push_back(std::move(element));
    return *this;
}

XmlElement& XmlElement::optionalChild(std::string childName, std::string childText) {
    if (!childText.empty()) {
        child(XmlElement(std::move(childName), std::move(childText)));
    }
    return *this;
}

void appendEscaped(std::string_view text, std::string& out, bool inAttribute) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += inAttribute ? "&quot;" : "\"";
            break;
        default:
            out += c;
        }
    }
}

void renderXml(const XmlElement& element, std::string& out) {
    out += '<';
    out += element.name;
    if (element.preserveSpace) {
        out += " xml:space=\"preserve\"";
    }
    std::vector<const std::pair<std::string, std::string>*> attributes;
    for (const auto& attribute : element.attributes) {
        attributes.push_back(&attribute);
    }
    std::stable_sort(attributes.begin(), attributes.end(),
                     [](const auto* a, const auto* b) { return a->first < b->first; });
    for (const auto* attribute : attributes) {
        out += ' ';
        out += attribute->first;
        out += "=\"";
        appendEscaped(attribute->second, out, true);
        out += '"';
    }
    out += '>';
    appendEscaped(element.text, out, false);
    std::vector<const XmlElement*> children;
    for (const XmlElement& child : element.children) {
        children.push_back(&child);
    }
    std::stable_sort(children.begin(), children.end(),
                     [](const XmlElement* a, const XmlElement* b) { return a->name < b->name; });
    for (const XmlElement* child : children) {
        renderXml(*child, out);
    }
    out += "</";
    out += element.name;
    out += '>';
}

} // namespace parvelle::olmgen
