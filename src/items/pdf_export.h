#pragma once
// The PDF export of a mail: a few header lines (From, To, Cc, Subject, Attachment) and the plain
// body, in one font at 13 points, wrapped at 80 characters per line at word boundaries and
// flowing onto new pages. Drawn with cairo and pango, so every script renders with a fallback
// font when the main one lacks its glyphs.
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::items {

// The texts of one mail in drawing order; empty texts are not drawn.
struct PdfTexts {
    std::string from;       // "From: <sender>"
    std::string to;         // "To: <display to>"
    std::string cc;         // "Cc: <display cc>", empty when the mail has no Cc
    std::string subject;    // "Subject: <subject>"
    std::string attachment; // "Attachment : <names>", empty without file attachments
    std::string body;       // the plain body as it is
};

// Builds the texts from the mail's fields. Each attachment name is followed by one space.
PdfTexts MakePdfTexts(std::string_view sender, std::string_view to, std::string_view cc,
                      std::string_view subject, const std::vector<std::string>& attachmentNames,
                      std::string body);

// The page layout, in PDF points from the bottom-left corner of a US Letter page.
struct PdfLayout {
    static constexpr double kPageWidth = 612;
    static constexpr double kPageHeight = 792;
    static constexpr int kLeft = 30;
    static constexpr int kTop = 730; // baseline of a page's first line
    static constexpr int kLineHeight = 15;
    static constexpr int kNewPageAtOrBelow = 76;
    static constexpr double kTextSize = 13;
    static constexpr std::size_t kLineChars = 80;
};

// Splits one text into the lines it is drawn as: each line break of the text starts a new line,
// and a line longer than 79 characters is cut at its last space within the first 80 characters
// (the space is dropped) or, without one, after 80 characters. Characters are Unicode code
// points; a cut never separates a character from the marks or joiners that belong to it.
std::vector<std::string> WrapPdfText(std::string_view utf8);

struct PdfResult {
    std::string error; // empty on success
    explicit operator bool() const { return error.empty(); }
};

// Renders the texts to `outputPath`. The file is written under a temporary name and renamed into
// place, replacing the empty file the export reserved; on failure that file is left as it was.
PdfResult RenderPdf(const PdfTexts& texts, const std::string& outputPath);

} // namespace parvelle::items
