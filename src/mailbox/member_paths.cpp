#include "mailbox/member_paths.h"

#include "platform/text.h"

namespace parvelle::mailbox {

std::string_view textBefore(std::string_view s, std::string_view sep) {
    const auto p = s.find(sep);
    return p == std::string_view::npos ? std::string_view{} : s.substr(0, p);
}

std::string_view textAfter(std::string_view s, std::string_view sep) {
    const auto p = s.find(sep);
    return p == std::string_view::npos ? s : s.substr(p + sep.size());
}

std::string_view textBeforeLast(std::string_view s, std::string_view sep) {
    const auto p = s.rfind(sep);
    return p == std::string_view::npos ? std::string_view{} : s.substr(0, p);
}

std::string_view textAfterLast(std::string_view s, std::string_view sep) {
    const auto p = s.rfind(sep);
    return p == std::string_view::npos ? s : s.substr(p + sep.size());
}

namespace {

std::string_view directoryPart(std::string_view name) {
    return textBeforeLast(name, "/");
}

std::string_view fileNamePart(std::string_view name) {
    return textAfterLast(name, "/");
}

// Drops the last n UTF-16 code units of a UTF-8 text (the rules count characters as the
// platform's UTF-16 strings do).
std::string dropLastUnits(std::string_view s, std::size_t n) {
    std::u16string wide = text::utf8ToUtf16(s);
    wide.resize(wide.size() > n ? wide.size() - n : 0);
    return text::utf16ToUtf8(wide);
}

std::string lastUnits(std::string_view s, std::size_t n) {
    const std::u16string wide = text::utf8ToUtf16(s);
    return text::utf16ToUtf8(wide.size() > n ? std::u16string_view(wide).substr(wide.size() - n)
                                             : std::u16string_view(wide));
}

} // namespace

std::string memberFolderKey(std::string_view name) {
    const std::string_view d = directoryPart(name);
    const std::string_view first = textBefore(d, "/");
    const std::string_view r1 = textAfter(d, "/");
    const std::string_view second = textBefore(r1, "/");
    const std::string_view r2 = textAfter(r1, "/");
    const std::string_view last = textAfterLast(r2, "/");
    std::string key;
    if (last != kAttachmentsFolder) {
        if (first != "Local") {
            key.append(second).append("/").append(textAfter(r2, "/"));
        } else {
            key.append("Local/").append(r2);
        }
    } else {
        const std::string_view p2 = textBeforeLast(r2, "/");
        key.append(second).append("/").append(textAfter(p2, "/"));
    }
    return key;
}

std::string memberEntryKind(std::string_view name) {
    const std::string_view d = directoryPart(name);
    if (textAfterLast(d, "/") == kAttachmentsFolder)
        return std::string(kAttachmentsFolder);
    const std::string_view file = fileNamePart(name);
    if (name.find('_') != std::string_view::npos)
        return std::string(textBeforeLast(file, "_"));
    return std::string(file);
}

std::string attachmentKeyFromParts(std::string_view fileName, std::string_view wholeName) {
    std::string base = fileName.find('@') != std::string_view::npos
                           ? std::string(textBeforeLast(fileName, "@"))
                           : dropLastUnits(fileName, 6);
    const auto firstKept = base.find_first_not_of('<');
    base.erase(0, firstKept == std::string::npos ? base.size() : firstKept);
    if (base.empty())
        return {};
    return base + lastUnits(wholeName, 4);
}

std::string attachmentMemberKey(std::string_view name) {
    const auto at = name.find(kAttachmentsFolder);
    if (at == std::string_view::npos || at == 0)
        return {};
    if (textAfterLast(directoryPart(name), "/") != kAttachmentsFolder)
        return {};
    return attachmentKeyFromParts(fileNamePart(name), name);
}

} // namespace parvelle::mailbox
