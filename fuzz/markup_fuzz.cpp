// Feeds arbitrary bytes through document loading, parsing and a full navigation walk: every
// element is visited, and its text, attributes and name are read.
#include "markup/markup_document.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void walk(parvelle::markup::MarkupDocument& doc) {
    // Depth-first over the repaired tree, with an explicit bound on the work per document.
    std::size_t steps = 0;
    const std::size_t maxSteps = doc.ElementCount() * 4 + 16;
    while (steps++ < maxSteps) {
        if (doc.FindChild()) {
            (void)doc.ChildText();
            (void)doc.ChildAttribute("a");
            (void)doc.ChildName();
            if (doc.Element(doc.ChildIndex()).firstChild != 0) {
                doc.Descend();
            }
            continue;
        }
        if (!doc.Ascend()) {
            if (!doc.FindSibling()) {
                break;
            }
            (void)doc.CurrentText();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    parvelle::markup::MarkupDocument doc;
    doc.LoadBytes(bytes);
    (void)doc.Report();
    walk(doc);
    parvelle::markup::MarkupDocument copy = doc;
    copy.ResetPosition();
    copy.FindSibling("emails");
    copy.FindChild("email");
    copy.Descend();
    copy.FindChild("OPFMessageCopySubject");
    (void)copy.ChildText();
    // The same bytes as text that is already UTF-8.
    doc.SetText(bytes);
    walk(doc);
    return 0;
}
