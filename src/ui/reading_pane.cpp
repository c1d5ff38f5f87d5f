#include "ui/reading_pane.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/text.h"

namespace parvelle::ui {
namespace fs = std::filesystem;

ReadingPaneView readingPaneView(const mailbox::RecoveredOlmHeaderData* record) {
    ReadingPaneView view;
    if (record == nullptr)
        return view;
    view.subject = record->subject.empty() ? "Unknown" : record->subject;
    view.to = record->to;
    view.cc = record->cc;
    view.from = record->from;
    view.attachmentsVisible = !record->attachmentNames.empty();
    if (record->hasAttachments != 0)
        view.attachmentRows = splitAttachmentNames(record->attachmentNames);
    return view;
}

std::vector<std::string> splitAttachmentNames(const std::string& names) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= names.size()) {
        const std::size_t end = std::min(names.find(';', start), names.size());
        if (end > start)
            pieces.push_back(names.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string attachmentExtension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : text::asciiLower(name.substr(dot));
}

std::string writePreviewPage(const std::string& folder, const std::string& html,
                             const std::string& hasHtml) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::random_device random;
    char name[48];
    std::snprintf(name, sizeof name, "%08x-%04x-%04x-%04x-%08x%04x.html", random(),
                  random() & 0xffff, (random() & 0x0fff) | 0x4000, (random() & 0x3fff) | 0x8000,
                  random(), random() & 0xffff);
    const fs::path path = fs::path(folder) / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return {};
    if (hasHtml == "0E0")
        out.write("\xEF\xBB\xBF", 3);
    const std::string utf8 = text::sanitizeUtf8(html);
    out.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
    out.close();
    return out ? path.string() : std::string();
}

} // namespace parvelle::ui
