#include "items/file_names.h"

#include <filesystem>

#include "platform/text.h"

namespace parvelle::items {

std::string SanitizeFileName(std::string_view text, bool alsoDots) {
    std::string out(text);
    for (char& c : out) {
        switch (c) {
        case '\\':
        case '/':
        case ':':
        case '?':
        case '*':
        case '"':
        case '<':
        case '>':
        case '|':
        case '\r':
        case '\n':
        case '\t':
            c = '_';
            break;
        case '.':
            if (alsoDots)
                c = '_';
            break;
        default:
            break;
        }
    }
    return out;
}

std::string SystemFileName(std::string_view text) {
    std::string name = SanitizeFileName(text);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return name;
}

std::string FirstBytes(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string UniqueAttachmentFileName(const std::string& displayName, std::set<std::string>& taken) {
    // The extension added to the display name was not made safe with it, and two names that
    // differ after a NUL would share one file.
    std::string name = SystemFileName(displayName);
    if (name.empty() || name == "." || name == "..")
        name = "attachment";
    const std::filesystem::path base(name);
    std::string stem = base.stem().string();
    std::string extension = base.extension().string();
    if (name.size() > kMaxAttachmentFileNameBytes) {
        // A name the file system would refuse would lose the attachment.
        if (extension.size() > kMaxAttachmentFileNameBytes / 4)
            extension.clear();
        stem = FirstBytes(stem, kMaxAttachmentFileNameBytes - extension.size());
        name = stem + extension;
    }
    for (int n = 2; !taken.insert(text::asciiLower(name)).second; ++n)
        name = stem + " (" + std::to_string(n) + ")" + extension;
    return name;
}

} // namespace parvelle::items
