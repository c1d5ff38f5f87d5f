// The PDF export: line wrapping on its own, and rendered files read back with poppler's
// pdftotext and pdfinfo.
#include "items/pdf_export.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// fontconfig keeps its parsed configuration for the life of the process, and cairo's CFF font
// subsetter leaks a small buffer per document that embeds a CFF font (CJK); neither is ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcairo.so\n";
}

namespace parvelle::items {
namespace {

namespace fs = std::filesystem;

using parvelle::testing::TempDir;

std::string run(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        out.append(buf.data(), n);
    ::pclose(pipe);
    return out;
}

// Text of the PDF (or of one page) in drawing order, one string per line, empty lines dropped.
std::vector<std::string> pdfLines(const fs::path& pdf, int page = 0) {
    std::string range =
        page > 0 ? " -f " + std::to_string(page) + " -l " + std::to_string(page) : std::string();
    std::istringstream text(
        run("pdftotext -raw -enc UTF-8" + range + " '" + pdf.string() + "' - 2>/dev/null"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\f'))
            line.pop_back();
        if (!line.empty() && line.front() == '\f')
            line.erase(0, 1);
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

int pageCount(const fs::path& pdf) {
    const std::string info = run("pdfinfo '" + pdf.string() + "' 2>/dev/null");
    std::smatch m;
    return std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : -1;
}

std::size_t codePointCount(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string join(const std::vector<std::string>& lines, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out += (i ? separator : "") + lines[i];
    return out;
}

// --- Wrapping -------------------------------------------------------------------------------

TEST(WrapPdfText, WordsWrapGreedilyAtSpacesWithinEightyCharacters) {
    const std::vector<std::string> words = {"Quarterly", "planning", "meeting:", "budgets,",
                                            "hiring,",   "roadmap",  "Ünïcödé",  "and",
                                            "several",   "more",     "topics"};
    std::string subject = "Subject:";
    for (int i = 0; subject.size() < 200; ++i)
        subject += " " + words[i % words.size()];
    const std::vector<std::string> lines = WrapPdfText(subject);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(join(lines, " "), subject);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(codePointCount(lines[i]), 80u) << lines[i];
        if (i + 1 < lines.size()) {
            // The next word and the space after it would not have fitted on this line.
            const std::string next = lines[i + 1].substr(0, lines[i + 1].find(' '));
            EXPECT_GE(codePointCount(lines[i]) + 1 + codePointCount(next), 80u) << lines[i];
        }
    }
}

struct WrapCase {
    const char* label;
    std::string text;
    std::vector<std::string> lines;
};

class WrapPdfTextCases : public ::testing::TestWithParam<WrapCase> {};

void PrintTo(const WrapCase& c, std::ostream* os) {
    *os << c.label;
}

TEST_P(WrapPdfTextCases, SplitsAsExpected) {
    EXPECT_EQ(WrapPdfText(GetParam().text), GetParam().lines);
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrapPdfTextCases,
    ::testing::Values(
        WrapCase{"ShortTextStays", "From: Ann <ann@example.com>", {"From: Ann <ann@example.com>"}},
        WrapCase{"SeventyNineCharactersStay", std::string(79, 'a'), {std::string(79, 'a')}},
        WrapCase{"LongWordCutEveryEighty",
                 std::string(200, 'w'),
                 {std::string(80, 'w'), std::string(80, 'w'), std::string(40, 'w')}},
        WrapCase{"LeadingSpaceOnlyIsNoBreak",
                 " " + std::string(100, 'x'),
                 {" " + std::string(79, 'x'), std::string(21, 'x')}},
        WrapCase{"LineBreaksStartLines",
                 "one\r\ntwo\nthree\rfour\r\n\r\nsix",
                 {"one", "two", "three", "four", "", "six"}},
        WrapCase{
            "CountsCharactersNotBytes", repeat("漢", 100), {repeat("漢", 80), repeat("漢", 20)}},
        WrapCase{"KeepsJoinedEmojiTogether",
                 std::string(78, 'a') + "👩‍💻b",
                 {std::string(78, 'a'), "👩‍💻b"}},
        WrapCase{"KeepsCombiningMarksWithTheirLetter",
                 std::string(79, 'a') + "e\xCC\x81z",
                 {std::string(79, 'a'), "e\xCC\x81z"}},
        WrapCase{"DropsControlCharacters",
                 "a\x01"
                 "b\x7F"
                 "c\td",
                 {"abc\td"}},
        WrapCase{"ReplacesInvalidUtf8",
                 "a\xFF"
                 "b",
                 {"a\xEF\xBF\xBD"
                  "b"}},
        WrapCase{"DelimiterLookalikeIsText", "a*&b", {"a*&b"}}),
    [](const ::testing::TestParamInfo<WrapCase>& info) { return std::string(info.param.label); });

// --- Rendering ------------------------------------------------------------------------------

TEST(MakePdfTexts, BuildsTheHeaderLines) {
    const PdfTexts t = MakePdfTexts("Ann", "Bob; Carl", "", "Hi", {"a.txt", "b c.pdf"}, "Body");
    EXPECT_EQ(t.from, "From: Ann");
    EXPECT_EQ(t.to, "To: Bob; Carl");
    EXPECT_EQ(t.cc, "");
    EXPECT_EQ(t.subject, "Subject: Hi");
    EXPECT_EQ(t.attachment, "Attachment : a.txt b c.pdf ");
    EXPECT_EQ(t.body, "Body");
    EXPECT_EQ(MakePdfTexts("A", "B", "C", "S", {}, "").attachment, "");
    EXPECT_EQ(MakePdfTexts("A", "B", "C", "S", {}, "").cc, "Cc: C");
}

TEST(RenderPdf, HeaderLinesThenBodyInOrder) {
    TempDir dir;
    const fs::path pdf = dir / "mail.pdf";
    const PdfTexts texts =
        MakePdfTexts("Ann Lee <ann@example.com>", "Bob <bob@example.com>",
                     "Carl <carl@example.com>", "Quarterly numbers", {"report.xlsx", "notes.txt"},
                     "Hello Bob,\r\n\r\nthe numbers are attached.\r\nAnn");
    ASSERT_TRUE(RenderPdf(texts, pdf.string()));
    EXPECT_EQ(pdfLines(pdf), (std::vector<std::string>{
                                 "From: Ann Lee <ann@example.com>", "To: Bob <bob@example.com>",
                                 "Cc: Carl <carl@example.com>", "Subject: Quarterly numbers",
                                 "Attachment : report.xlsx notes.txt", "Hello Bob,",
                                 "the numbers are attached.", "Ann"}));
    EXPECT_EQ(pageCount(pdf), 1);
}

TEST(RenderPdf, LongBodyFlowsOntoNewPagesAtTheThreshold) {
    TempDir dir;
    const fs::path pdf = dir / "long.pdf";
    std::string body;
    const int bodyLines = 100;
    for (int i = 1; i <= bodyLines; ++i)
        body += "line " + std::to_string(i) + "\r\n";
    body.resize(body.size() - 2);
    ASSERT_TRUE(RenderPdf(MakePdfTexts("Ann", "Bob", "", "Long", {}, body), pdf.string()));

    // Lines sit 15 points apart from 730 down; a line at 76 or below goes to the next page.
    int perPage = 0;
    for (int y = PdfLayout::kTop; y > PdfLayout::kNewPageAtOrBelow; y -= PdfLayout::kLineHeight)
        ++perPage;
    const int total = 3 + bodyLines;
    EXPECT_EQ(pageCount(pdf), (total + perPage - 1) / perPage);
    const std::vector<std::string> page2 = pdfLines(pdf, 2);
    ASSERT_FALSE(page2.empty());
    EXPECT_EQ(page2.front(), "line " + std::to_string(perPage - 3 + 1));
    std::vector<std::string> all = pdfLines(pdf);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(total));
    EXPECT_EQ(all.back(), "line " + std::to_string(bodyLines));
}

TEST(RenderPdf, LongWordsAndLongSubjectsWrap) {
    TempDir dir;
    const fs::path pdf = dir / "wrap.pdf";
    const std::string word = repeat("wrapping", 25);
    std::string subject;
    while (subject.size() < 200)
        subject += "alpha beta gamma ";
    ASSERT_TRUE(
        RenderPdf(MakePdfTexts("Ann", "Bob", "", subject, {}, "start " + word), pdf.string()));
    const std::vector<std::string> lines = pdfLines(pdf);
    std::vector<std::string> expected = {"From: Ann", "To: Bob"};
    for (const std::string& l : WrapPdfText("Subject: " + subject))
        expected.push_back(l);
    expected.insert(expected.end(),
                    {"start", word.substr(0, 80), word.substr(80, 80), word.substr(160)});
    for (std::string& l : expected)
        while (!l.empty() && l.back() == ' ')
            l.pop_back();
    EXPECT_EQ(lines, expected);
    for (const std::string& l : lines)
        EXPECT_LE(codePointCount(l), 80u);
}

// Text as poppler gives it back, without the spaces and direction marks it may put inside
// right-to-left runs.
std::string comparable(const std::string& s) {
    static const std::regex noise("[ \n]|\xE2\x80[\x8E\x8F\xAA-\xAE]");
    return std::regex_replace(s, noise, "");
}

TEST(RenderPdf, NonLatinScriptsSurvive) {
    TempDir dir;
    const fs::path pdf = dir / "scripts.pdf";
    const std::vector<std::string> samples = {"日本語のテキスト", "中文文本", "한국어 텍스트",
                                              "Русский текст",    "Ελληνικά", "हिन्दी",
                                              "مرحبا بالعالم",    "שלום עולם"};
    std::string body;
    for (const std::string& s : samples)
        body += s + "\n";
    // Colour emoji are drawn as pictures, so they are in the page but not in its text.
    body += "🎉🥳 party\n";
    ASSERT_TRUE(RenderPdf(MakePdfTexts("山田 太郎", "Ann", "", "件名", {}, body), pdf.string()));
    const std::string text = run("pdftotext -enc UTF-8 '" + pdf.string() + "' - 2>/dev/null");
    for (const std::string& s : samples)
        EXPECT_NE(comparable(text).find(comparable(s)), std::string::npos)
            << s << " missing from:\n"
            << text;
    EXPECT_NE(text.find("From: 山田 太郎"), std::string::npos) << text;
    EXPECT_NE(text.find("Subject: 件名"), std::string::npos) << text;
    EXPECT_NE(text.find("party"), std::string::npos) << text;
}

TEST(RenderPdf, WideLinesStayOnThePage) {
    TempDir dir;
    const fs::path pdf = dir / "wide.pdf";
    const std::string wide = repeat("漢", 80) + "\n" + std::string(80, 'W');
    ASSERT_TRUE(RenderPdf(MakePdfTexts("A", "B", "", "S", {}, wide), pdf.string()));
    const std::string boxes = run("pdftotext -bbox '" + pdf.string() + "' - 2>/dev/null");
    const std::regex xMax("xMax=\"([0-9.]+)\"");
    int words = 0;
    for (auto it = std::sregex_iterator(boxes.begin(), boxes.end(), xMax);
         it != std::sregex_iterator(); ++it, ++words)
        EXPECT_LE(std::stod((*it)[1]), PdfLayout::kPageWidth - PdfLayout::kLeft + 1);
    EXPECT_GT(words, 3);
    const std::string text = join(pdfLines(pdf), "");
    EXPECT_NE(text.find(repeat("漢", 80)), std::string::npos) << text;
}

TEST(RenderPdf, ReplacesTheReservedFileAndCleansUp) {
    TempDir dir;
    const fs::path pdf = dir / "reserved.pdf";
    std::ofstream(pdf).close();
    ASSERT_TRUE(RenderPdf(MakePdfTexts("A", "B", "", "S", {}, "body"), pdf.string()));
    EXPECT_GT(fs::file_size(pdf), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(RenderPdf, UnwritableFolderIsAnError) {
    TempDir dir;
    const PdfResult result = RenderPdf(MakePdfTexts("A", "B", "", "S", {}, "body"),
                                       (dir / "missing" / "x.pdf").string());
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.error.empty());
}

} // namespace
} // namespace parvelle::items
