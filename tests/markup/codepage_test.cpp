#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace parvelle::codepage {
namespace {

TEST(CodePage, ToUtf8) {
    struct Case {
        int codePage;
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        {kWindows1252, "caf\xE9 \x80 \x93x\x94", "caf\u00E9 \u20AC \u201Cx\u201D"},
        // Windows keeps the five unassigned bytes of 1252 as C1 controls.
        {kWindows1252, "\x81\x8D\x8F\x90\x9D", "\u0081\u008D\u008F\u0090\u009D"},
        {kAnsi, "\xE9", "\u00E9"},
        {-1, "\xE9", "\u00E9"},
        {28591, "\x80\xE9", "\u0080\u00E9"},
        {1251, "\xCF\xF0\xE8", "\u041F\u0440\u0438"},
        {932, "\x82\xA0", "\u3042"},
        {936, "\xC4\xE3", "\u4F60"},
        {20866, "\xC1", "\u0430"},
        {kUtf16Le, std::string("A\0\x3D\xD8\x00\xDE", 6), "A\U0001F600"},
        {kUtf16Be, std::string("\0A", 2), "A"},
        {kUtf32Le, std::string("A\0\0\0", 4), "A"},
        {kUtf8, "ok \xC3\xA9", "ok \u00E9"},
        // Malformed UTF-8: one replacement per maximal bad subsequence.
        {kUtf8,
         "a\xE2\x82"
         "b\xFF\xC0\xAF",
         "a\uFFFD"
         "b\uFFFD\uFFFD\uFFFD"},
        {kUtf8, "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
        // Invalid and truncated sequences of a multi-byte code page.
        {932, "a\x82", "a\uFFFD"},
        {54936, "\x81\x30", "\uFFFD"},
        // A code page glibc lacks converts as the ANSI code page.
        {57002, "a\xE9", "a\u00E9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toUtf8(c.bytes, c.codePage), c.utf8) << c.codePage;
    }
}

TEST(CodePage, FromUtf8) {
    struct Case {
        int codePage;
        std::string utf8;
        std::string bytes;
        bool usedDefault;
    };
    const Case cases[] = {
        {kWindows1252, "caf\u00E9 \u20AC", "caf\xE9 \x80", false},
        {kWindows1252, "\u4F60", "?", true},
        {kWindows1252, "a\xFF", "a?", true},
        {1251, "\u041F", "\xCF", false},
        {932, "\u3042x\U0001F600", "\x82\xA0x?", true},
        {kUtf16Le, "A", std::string("A\0", 2), false},
        {kUtf8, "\u00E9", "\xC3\xA9", false},
    };
    for (const Case& c : cases) {
        bool usedDefault = !c.usedDefault;
        EXPECT_EQ(fromUtf8(c.utf8, c.codePage, &usedDefault), c.bytes) << c.codePage;
        EXPECT_EQ(usedDefault, c.usedDefault) << c.codePage;
    }
}

TEST(CodePage, Names) {
    EXPECT_EQ(ansiCodePage(), 1252);
    EXPECT_EQ(iconvName(kAnsi), "WINDOWS-1252");
    EXPECT_EQ(iconvName(850), "IBM850");
    EXPECT_TRUE(iconvName(57002).empty());
    EXPECT_TRUE(isSupported(65001));
    EXPECT_FALSE(isSupported(12345));
}

} // namespace
} // namespace parvelle::codepage
