#pragma once
// Turns the bytes of a document into UTF-8 text. The encoding comes from a byte-order signature,
// else from an encoding the document declares (<?xml ... encoding=...?> or an HTML meta
// Content-Type), else from whether the bytes read as UTF-8. Each step leaves a word in the parse
// report, so a document that comes out wrong can be explained afterwards.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace parvelle::markup {

struct DecodedText {
    bool ok = false;         // false only when a file could not be opened or read
    std::string text;        // UTF-8
    std::string report;      // the loading part of the parse report
    std::uint32_t flags = 0; // the signature flag found, if any (DocumentFlag)
};

DecodedText decodeDocumentBytes(std::string_view bytes);
DecodedText readDocumentFile(const std::filesystem::path& path);

// The encoding a document declares in its first bytes (already decoded as UTF-8), or empty.
std::string declaredEncoding(std::string_view head);

} // namespace parvelle::markup
