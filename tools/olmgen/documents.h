#pragma once
// The OLM documents of each item kind, built from the description structs.
#include "olmgen/olmgen.h"

#include <string>
#include <string_view>
#include <vector>

namespace parvelle::olmgen {

// A mail's whole document ("emails" root holding one "email"); `attachmentUrls` gives each
// attachment's OPFAttachmentURL in order.
std::string mailDocument(const Mail& mail, std::string_view messageId,
                         const std::vector<std::string>& attachmentUrls);

// One item element of an aggregate document, from its start tag to its end tag.
std::string contactElement(const Contact& contact);
std::string groupElement(const Group& group);
std::string eventElement(const Event& event);
std::string taskElement(const Task& task);
std::string noteElement(const Note& note);

// The aggregate document around its item elements: root start tag with xml:space and
// elementCount, the items back to back, the root end tag, nothing else.
std::string aggregateDocument(std::string_view rootName, const std::vector<std::string>& items);

std::string categoriesDocument(const std::vector<Category>& categories);

// Outlook's number form for attachment sizes: 2476 -> "2.476E3", 0 -> "0E0".
std::string scientificSize(std::uint64_t size);

} // namespace parvelle::olmgen
