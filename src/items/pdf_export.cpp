#include "items/pdf_export.h"

#include "platform/text.h"

#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

namespace parvelle::items {

namespace {

// One font for all text: a serif with Times metrics, narrow enough that 80 characters of
// ordinary text fit between the margins; fontconfig supplies other fonts for scripts it lacks.
constexpr const char* kFont = "Liberation Serif, Noto Serif, DejaVu Serif, serif 13";

struct CodePoint {
    gunichar c;
    std::size_t offset; // byte offset in the paragraph
};

// Characters that belong to the one before them: a line must not start with one.
bool continuesCluster(gunichar c) {
    return g_unichar_ismark(c) || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F) ||
           (c >= 0xE0100 && c <= 0xE01EF) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
           (c >= 0xE0020 && c <= 0xE007F);
}

bool canCutBefore(const std::vector<CodePoint>& cps, std::size_t i) {
    return i == 0 || i >= cps.size() || (!continuesCluster(cps[i].c) && cps[i - 1].c != 0x200D);
}

std::vector<CodePoint> codePoints(const std::string& utf8) {
    std::vector<CodePoint> out;
    for (const char* p = utf8.c_str(); *p; p = g_utf8_next_char(p))
        out.push_back({g_utf8_get_char(p), static_cast<std::size_t>(p - utf8.c_str())});
    return out;
}

void wrapParagraph(const std::string& paragraph, std::vector<std::string>& lines) {
    const std::vector<CodePoint> cps = codePoints(paragraph);
    auto bytesOf = [&](std::size_t from, std::size_t to) {
        const std::size_t begin = from < cps.size() ? cps[from].offset : paragraph.size();
        const std::size_t end = to < cps.size() ? cps[to].offset : paragraph.size();
        return paragraph.substr(begin, end - begin);
    };
    std::size_t start = 0;
    bool drewLine = false;
    while (cps.size() - start > PdfLayout::kLineChars - 1) {
        std::size_t space = std::string::npos;
        for (std::size_t i = start + PdfLayout::kLineChars; i-- > start + 1;)
            if (cps[i].c == ' ') {
                space = i;
                break;
            }
        if (space != std::string::npos) {
            lines.push_back(bytesOf(start, space));
            start = space + 1;
        } else {
            std::size_t cut = start + PdfLayout::kLineChars;
            while (cut > start + 1 && !canCutBefore(cps, cut))
                --cut;
            lines.push_back(bytesOf(start, cut));
            start = cut;
        }
        drewLine = true;
    }
    if (start < cps.size() || !drewLine)
        lines.push_back(bytesOf(start, cps.size()));
}

// Text pango can lay out: valid UTF-8 without control characters other than tab.
std::string drawable(std::string_view text) {
    std::string out;
    for (char c : text::sanitizeUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 0x20 && u != 0x7F) || c == '\t')
            out += c;
    }
    return out;
}

struct CairoSurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoFree {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct GObjectFree {
    void operator()(void* o) const { g_object_unref(o); }
};
struct FontDescriptionFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

cairo_status_t writeToFile(void* closure, const unsigned char* data, unsigned int length) {
    auto* file = static_cast<std::FILE*>(closure);
    return std::fwrite(data, 1, length, file) == length ? CAIRO_STATUS_SUCCESS
                                                        : CAIRO_STATUS_WRITE_ERROR;
}

// Draws lines top to bottom, starting a new page when the next line would sit at or below the
// bottom threshold.
class PageWriter {
public:
    PageWriter(cairo_t* cr, PangoLayout* layout) : cr_(cr), layout_(layout) {}

    void draw(const std::string& line) {
        pango_layout_set_text(layout_, line.c_str(), static_cast<int>(line.size()));
        // A line wider than the page (wide characters) continues on the next line rather than
        // running off the paper.
        PangoLayoutIter* iter = pango_layout_get_iter(layout_);
        do {
            if (y_ <= PdfLayout::kNewPageAtOrBelow) {
                cairo_show_page(cr_);
                y_ = PdfLayout::kTop;
            }
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(iter, nullptr, &logical);
            cairo_move_to(cr_, PdfLayout::kLeft + static_cast<double>(logical.x) / PANGO_SCALE,
                          PdfLayout::kPageHeight - y_);
            pango_cairo_show_layout_line(cr_, pango_layout_iter_get_line_readonly(iter));
            y_ -= PdfLayout::kLineHeight;
        } while (pango_layout_iter_next_line(iter));
        pango_layout_iter_free(iter);
    }

private:
    cairo_t* cr_;
    PangoLayout* layout_;
    int y_ = PdfLayout::kTop;
};

std::string temporaryName(const std::string& path) {
    std::random_device random;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    return path + suffix;
}

PdfResult renderTo(const PdfTexts& texts, std::FILE* file) {
    std::unique_ptr<cairo_surface_t, CairoSurfaceFree> surface(cairo_pdf_surface_create_for_stream(
        writeToFile, file, PdfLayout::kPageWidth, PdfLayout::kPageHeight));
    std::unique_ptr<cairo_t, CairoFree> cr(cairo_create(surface.get()));
    // A font map of our own, released with the document: the shared default one would keep
    // every font of every script a mail used for the rest of the process.
    std::unique_ptr<PangoFontMap, GObjectFree> fontMap(pango_cairo_font_map_new());
    std::unique_ptr<PangoContext, GObjectFree> context(
        pango_font_map_create_context(fontMap.get()));
    pango_cairo_update_context(cr.get(), context.get());
    // Points, not screen pixels: 13 means 13 points on the page.
    pango_cairo_context_set_resolution(context.get(), 72);
    std::unique_ptr<PangoLayout, GObjectFree> layout(pango_layout_new(context.get()));
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> font(
        pango_font_description_from_string(kFont));
    pango_font_description_set_size(font.get(),
                                    static_cast<int>(PdfLayout::kTextSize * PANGO_SCALE));
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_width(
        layout.get(),
        static_cast<int>((PdfLayout::kPageWidth - 2 * PdfLayout::kLeft) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    // A word broken at the margin must not gain a hyphen that is not in the mail.
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
    cairo_set_source_rgb(cr.get(), 0, 0, 0);

    PageWriter pages(cr.get(), layout.get());
    for (const std::string* t :
         {&texts.from, &texts.to, &texts.cc, &texts.subject, &texts.attachment, &texts.body}) {
        if (t->empty())
            continue;
        for (const std::string& line : WrapPdfText(*t))
            pages.draw(line);
    }
    cairo_show_page(cr.get());
    cairo_surface_finish(surface.get());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
        return {cairo_status_to_string(cairo_status(cr.get()))};
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return {cairo_status_to_string(cairo_surface_status(surface.get()))};
    return {};
}

} // namespace

PdfTexts MakePdfTexts(std::string_view sender, std::string_view to, std::string_view cc,
                      std::string_view subject, const std::vector<std::string>& attachmentNames,
                      std::string body) {
    PdfTexts t;
    t.from = "From: " + std::string(sender);
    t.to = "To: " + std::string(to);
    if (!cc.empty())
        t.cc = "Cc: " + std::string(cc);
    t.subject = "Subject: " + std::string(subject);
    std::string names;
    for (const std::string& name : attachmentNames)
        names += name + " ";
    if (!names.empty())
        t.attachment = "Attachment : " + names;
    t.body = std::move(body);
    return t;
}

std::vector<std::string> WrapPdfText(std::string_view utf8) {
    std::vector<std::string> lines;
    const std::string text = text::sanitizeUtf8(utf8);
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find_first_of("\r\n", start);
        wrapParagraph(drawable(std::string_view(text).substr(start, end - start)), lines);
        if (end == std::string::npos)
            break;
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

PdfResult RenderPdf(const PdfTexts& texts, const std::string& outputPath) {
    std::string temp;
    std::unique_ptr<std::FILE, FileClose> file;
    for (int attempt = 0; attempt < 8 && !file; ++attempt) {
        temp = temporaryName(outputPath);
        file.reset(std::fopen(temp.c_str(), "wbx"));
    }
    if (!file)
        return {"cannot create a file next to " + outputPath};
    PdfResult result = renderTo(texts, file.get());
    if (std::fclose(file.release()) != 0 && result)
        result = {"the PDF could not be written to " + outputPath};
    std::error_code ec;
    if (result) {
        std::filesystem::rename(temp, outputPath, ec);
        if (ec)
            result = {"cannot rename the written PDF to " + outputPath + ": " + ec.message()};
    }
    if (!result)
        std::filesystem::remove(temp, ec);
    return result;
}

} // namespace parvelle::items
