#include "markup/encoding_table.h"
#include "markup/markup_document.h"
#include "markup/text_file_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace parvelle::markup {
namespace {

std::string utf16(std::u16string_view s, bool bigEndian) {
    std::string out;
    for (const char16_t u : s) {
        const char hi = static_cast<char>(u >> 8);
        const char lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

struct LoadCase {
    const char* name;
    std::string bytes;
    std::string text;
    std::uint32_t flags;
    std::string loadReport;
};

std::string repeated(std::string_view s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

std::vector<LoadCase> loadCases() {
    const std::string declared1252 = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>";
    return {
        {"utf8 signature", "\xEF\xBB\xBF<a>\xC3\xA9</a>", "<a>\xC3\xA9</a>", kFileUtf8Signature,
         "<bom/><read encoding=\"UTF-8\" length=\"9\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"8\"/>"},
        {"utf8 by first byte", "<a>\xC3\xA9</a>", "<a>\xC3\xA9</a>", 0,
         "<read encoding=\"UTF-8\" length=\"9\"/><converted_to encoding=\"UTF-16\" length=\"8\"/>"},
        {"utf16le signature", "\xFF\xFE" + utf16(u"<a>\u00E9\U0001F600</a>", false),
         "<a>\xC3\xA9\xF0\x9F\x98\x80</a>", kFileUtf16LeSignature,
         "<bom/><read encoding=\"UTF-16LE\" length=\"10\"/>"},
        {"utf16be signature", "\xFE\xFF" + utf16(u"<a>\u00E9</a>", true), "<a>\xC3\xA9</a>",
         kFileUtf16BeSignature, "<bom/><read encoding=\"UTF-16BE\" length=\"8\"/><endian_swap/>"},
        {"utf16le without signature", utf16(u"<a>\u00E9\u4F60</a>", false),
         "<a>\xC3\xA9\xE4\xBD\xA0</a>", 0, "<read encoding=\"UTF-16LE\" length=\"9\"/>"},
        {"utf16be without signature", utf16(u"<a>\u00E9</a>", true), "<a>\xC3\xA9</a>", 0,
         "<read encoding=\"UTF-16BE\" length=\"8\"/><endian_swap/>"},
        {"declared windows-1252",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xE9\x80</a>",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xC3\xA9\xE2\x82\xAC</a>", 0,
         "<read encoding=\"windows-1252\" length=\"54\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"54\"/>"},
        {"declared in single quotes, any case",
         "<?XML version='1.0' Encoding='ISO-8859-5'?><a>\xB0</a>",
         "<?XML version='1.0' Encoding='ISO-8859-5'?><a>\xD0\x90</a>", 0,
         "<read encoding=\"ISO-8859-5\" length=\"51\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"51\"/>"},
        {"unknown declared name converts as ANSI",
         "<?xml version=\"1.0\" encoding=\"x-nosuch\"?><a>\xE9</a>",
         "<?xml version=\"1.0\" encoding=\"x-nosuch\"?><a>\xC3\xA9</a>", 0,
         "<read encoding=\"x-nosuch\" length=\"49\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"49\"/>"},
        {"html meta charset",
         "<html><head><meta http-equiv=\"content-type\" content=\"text/html; "
         "charset=windows-1251\"/></head><body>\xCF</body></html>",
         "<html><head><meta http-equiv=\"content-type\" content=\"text/html; "
         "charset=windows-1251\"/></head><body>\xD0\x9F</body></html>",
         0,
         "<read encoding=\"windows-1251\" length=\"115\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"115\"/>"},
        {"no declaration, valid utf8", " <a>\xC3\xA9</a>", " <a>\xC3\xA9</a>", 0,
         "<read encoding=\"UTF-8\" length=\"10\"/><utf8_detection/>"
         "<converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        {"no declaration, not utf8", " <a>\xE9</a>", " <a>\xC3\xA9</a>", 0,
         "<read encoding=\"\" length=\"9\"/><utf8_detection/>"
         "<converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        {"first byte '<' wins over invalid utf8", "<a>\xE9</a>", "<a>\xEF\xBF\xBD</a>", 0,
         "<read encoding=\"UTF-8\" length=\"8\"/><converted_to encoding=\"UTF-16\" length=\"8\"/>"},
        {"zero bytes are dropped", std::string("<a>x\0y\0</a>", 11), "<a>xy</a>", 0,
         "<read encoding=\"UTF-8\" length=\"11\"/><nulls_removed count=\"2\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        {"zero units of utf16 are dropped",
         "\xFF\xFE" + utf16(std::u16string(u"<a>x\0</a>", 9), false), "<a>x</a>",
         kFileUtf16LeSignature,
         "<bom/><read encoding=\"UTF-16LE\" length=\"9\"/>"
         "<nulls_removed count=\"1\"/>"},
        // 8-bit text that claims to be UTF-16 is read as what it is.
        {"wrong wide declaration", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>",
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>", 0,
         "<read encoding=\"UTF-8\" length=\"48\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"47\"/>"},
        {"odd byte of utf16 is dropped", std::string("\xFF\xFE<\0a\0/\0>\0x", 11), "<a/>",
         kFileUtf16LeSignature, "<bom/><read encoding=\"UTF-16LE\" length=\"4\"/>"},
        {"truncated utf8 at the end", "<a/>\xE2\x82", "<a/>\xEF\xBF\xBD", 0,
         "<read encoding=\"UTF-8\" length=\"6\"/><converted_to encoding=\"UTF-16\" length=\"5\"/>"},
        {"empty", "", "", 0, ""},
        {"utf8 with astral and CJK characters", "<a>\xE4\xBD\xA0\xF0\x9F\x98\x80</a>",
         "<a>\xE4\xBD\xA0\xF0\x9F\x98\x80</a>", 0,
         "<read encoding=\"UTF-8\" length=\"14\"/><converted_to encoding=\"UTF-16\" "
         "length=\"10\"/>"},
        // Well-formed UTF-8 whose declaration still decides, with a character cut by the end of
        // the first kilobyte that is searched for the declaration.
        {"declaration before a character cut by the search limit",
         declared1252 + "<a>x" + repeated("\xC3\xA9", 500) + "</a>",
         declared1252 + "<a>x" + repeated("\xC3\x83\xC2\xA9", 500) + "</a>", 0,
         "<read encoding=\"windows-1252\" length=\"1053\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"1053\"/>"},
        {"invalid utf8 after the first kilobyte", "<a>" + std::string(1100, 'x') + "\xE9</a>",
         "<a>" + std::string(1100, 'x') + "\xEF\xBF\xBD</a>", 0,
         "<read encoding=\"UTF-8\" length=\"1108\"/>"
         "<converted_to encoding=\"UTF-16\" length=\"1108\"/>"},
    };
}

TEST(TextLoading, EncodingsFromBytes) {
    for (const LoadCase& c : loadCases()) {
        MarkupDocument doc;
        doc.LoadBytes(c.bytes);
        EXPECT_EQ(doc.Text(), c.text) << c.name;
        EXPECT_EQ(doc.Flags(), c.flags) << c.name;
        EXPECT_EQ(doc.Report().substr(0, c.loadReport.size()), c.loadReport) << c.name;
    }
}

// Well-formed UTF-8 converts to itself with its UTF-16 length reported, and one malformed byte
// anywhere turns the document into replaced text, whatever the length of the ASCII runs around
// the characters (the check skips ASCII sixteen bytes a step).
TEST(TextLoading, Utf8IsCheckedWhateverTheAsciiRunsAroundIt) {
    struct Character {
        std::string bytes;
        std::size_t units; // UTF-16 units; 0: malformed
    };
    const Character characters[] = {
        {"\xC3\xA9", 1}, {"\xE4\xBD\xA0", 1}, {"\xF0\x9F\x98\x80", 2},
        {"\xE9", 0},     {"\xED\xA0\x80", 0}, {"\xF4\x90\x80\x80", 0},
    };
    for (const Character& c : characters)
        for (std::size_t before : {0, 1, 7, 8, 9, 15, 16, 31, 32, 33, 40, 71})
            for (std::size_t after : {0, 5, 8, 13, 37}) {
                const std::string bytes = "<a>" + std::string(before, 'x') + c.bytes +
                                          std::string(after, 'y') + "\xC3\xA9</a>";
                SCOPED_TRACE(testing::Message()
                             << c.bytes.size() << " bytes, " << before << "/" << after);
                MarkupDocument doc;
                doc.LoadBytes(bytes);
                const std::size_t ascii = 3 + before + after + 4;
                if (c.units != 0) {
                    EXPECT_EQ(doc.Text(), bytes);
                    EXPECT_NE(doc.Report().find("<converted_to encoding=\"UTF-16\" length=\"" +
                                                std::to_string(ascii + c.units + 1) + "\"/>"),
                              std::string::npos)
                        << doc.Report();
                } else {
                    EXPECT_NE(doc.Text().find("\xEF\xBF\xBD"), std::string::npos);
                    EXPECT_EQ(doc.Text().find(c.bytes), std::string::npos);
                }
            }
}

class TempFile {
public:
    explicit TempFile(const std::string& bytes)
        : path_(std::filesystem::temp_directory_path() /
                ("markup_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++) +
                 ".xml")) {
        std::ofstream(path_, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

TEST(TextLoading, FilesLoadLikeTheirBytes) {
    for (const LoadCase& c : loadCases()) {
        const TempFile file(c.bytes);
        MarkupDocument fromFile;
        MarkupDocument fromBytes;
        EXPECT_EQ(fromFile.LoadFile(file.path()), fromBytes.LoadBytes(c.bytes)) << c.name;
        EXPECT_EQ(fromFile.Text(), fromBytes.Text()) << c.name;
        EXPECT_EQ(fromFile.Report(), fromBytes.Report()) << c.name;
        EXPECT_EQ(fromFile.Flags(), fromBytes.Flags()) << c.name;
    }
}

TEST(TextLoading, LoadingParsesAndAppendsTheParseReport) {
    MarkupDocument doc;
    EXPECT_TRUE(doc.LoadBytes(std::string_view("\xEF\xBB\xBF<emails><email/></emails>")));
    EXPECT_TRUE(doc.FindSibling("emails"));
    EXPECT_TRUE(doc.FindChild("email"));
    EXPECT_EQ(doc.Flags(), kFileUtf8Signature);
    const std::byte span[] = {std::byte{'<'}, std::byte{'x'}, std::byte{'/'}, std::byte{'>'}};
    EXPECT_TRUE(doc.LoadBytes(std::span<const std::byte>(span)));
    EXPECT_TRUE(doc.FindSibling("x"));
    EXPECT_FALSE(doc.LoadBytes(std::string_view("<a><b></a>")));
    EXPECT_EQ(doc.Report(), "<read encoding=\"UTF-8\" length=\"10\"/>"
                            "<converted_to encoding=\"UTF-16\" length=\"10\"/>"
                            "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>");
    // The signature flag describes the last load only.
    EXPECT_EQ(doc.Flags(), 0u);
    // Parsing again keeps what loading said.
    EXPECT_FALSE(doc.Parse());
    EXPECT_EQ(doc.Report().rfind("<read encoding=\"UTF-8\" length=\"10\"/><converted_to", 0), 0u);
    // SetText starts a new report.
    doc.SetText("<a/>");
    EXPECT_EQ(doc.Report(), "");
}

TEST(TextLoading, FileErrors) {
    MarkupDocument doc;
    doc.SetText("<old><x/></old>");
    ASSERT_TRUE(doc.FindChild("x"));
    EXPECT_FALSE(doc.LoadFile("/nonexistent/markup/file.xml"));
    EXPECT_EQ(doc.Report(), "<file_error msg=\"No such file or directory\" n=\"2\"/>");
    EXPECT_EQ(doc.Text(), "");
    EXPECT_FALSE(doc.FindChild());
    EXPECT_FALSE(doc.LoadFile(std::filesystem::temp_directory_path()));
    EXPECT_EQ(doc.Report(), "<file_error msg=\"Is a directory\" n=\"21\"/>");
}

TEST(EncodingTable, CodePages) {
    struct Case {
        const char* name;
        int codePage;
    };
    const Case cases[] = {
        {"UTF-8", 65001},
        {"utf8", 65001},
        {"Utf-8", 65001},
        {"UTF-32LE", 65005},
        {"UTF-32", 65005},
        {"utf-32le", 12000},
        {"windows-1252", 1252},
        {"ISO-8859-1", 28591},
        {"Shift_JIS", 932},
        {"shifft_jis", 932},
        {"cp1256 ", 1256},
        {"iso_646.irv:1991", 20127},
        {"x-mac-ce", 10029},
        {"x-iscii-pa", 57011},
        {"_iso-2022-jp$sio", 50222},
        {"", 0},
        {"nosuch", -1},
        {"utf-8 ", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encodingCodePage(c.name), c.codePage) << c.name;
    }
    EXPECT_EQ(encodingCodePage(std::string(99, 'a')), -1);
    EXPECT_EQ(encodingCodePage(std::string(100, 'a')), -1);
}

TEST(DeclaredEncoding, Sources) {
    struct Case {
        const char* head;
        const char* encoding;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", "UTF-8"},
        {"<?xml version=\"1.0\"?><a/>", ""},
        {" <?xml version=\"1.0\" encoding=\"UTF-8\"?>", ""},
        {"<?xml-stylesheet href=\"a\"?><?xml encoding=\"x\"?>", ""},
        {"<!DOCTYPE html><HTML><HEAD><META HTTP-EQUIV=Content-Type "
         "CONTENT=\"text/html;charset=koi8-r\">",
         "koi8-r"},
        {"<html><head><meta name=\"x\" content=\"charset=a\"><meta http-equiv=\"Content-Type\" "
         "content=\"text/html; charset = big5 \">",
         "big5"},
        {"<html><head></head><meta http-equiv=\"Content-Type\" content=\"charset=a\">", ""},
        {"<body><meta http-equiv=\"Content-Type\" content=\"charset=a\">", ""},
        {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(declaredEncoding(c.head), c.encoding) << c.head;
    }
}

} // namespace
} // namespace parvelle::markup
