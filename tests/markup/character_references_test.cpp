#include "markup/character_references.h"

#include <gtest/gtest.h>

namespace parvelle::markup {
namespace {

TEST(CharacterReferences, Decoding) {
    struct Case {
        const char* raw;
        const char* decoded;
    };
    const Case cases[] = {
        {"a &amp; b", "a & b"},
        {"&lt;&gt;&quot;&apos;", "<>\"'"},
        {"&#65;&#x42;&#X43;", "ABC"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&#233;", "\xC3\xA9"},
        {"&nosuch;", "&nosuch;"},
        {"&amp", "&amp"},
        {"&amp amp;", "&amp amp;"},
        {"&;", "&;"},
        {"&#;&#x;", "&#;&#x;"},
        {"&#0;", "&#0;"},
        {"&#65x;", "A"},
        {"&AMP;&Amp;", "&&"},
        {"&Alpha;&alpha;&ALPHA;&aLPHA;", "\u0391\u03B1\u0391\u03B1"},
        {"&Dagger;&dagger;", "\u2021\u2020"},
        // Names of a pair that differ beyond their first letter.
        {"&dArr;&darr;&DARR;", "\u21D3\u2193\u21D3"},
        {"&OElig;&oelig;", "\u0152\u0153"},
        {"&thetasym;", "\u03D1"},
        // A ';' more than nine characters on is not the end of a reference.
        {"&abcdefghij;", "&abcdefghij;"},
        {"&\xC3\xA9;", "&\xC3\xA9;"},
        // No character for surrogates and values beyond Unicode.
        {"&#xD800;&#x110000;&#99999999;", "\uFFFD\uFFFD\uFFFD"},
        {"&&amp;", "&&"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeReferences(c.raw), c.decoded) << c.raw;
    }
}

TEST(CharacterReferences, NamedTableCoversHtml4AndApos) {
    EXPECT_EQ(namedReference("apos"), U'\'');
    EXPECT_EQ(namedReference("nbsp"), 0xA0u);
    EXPECT_EQ(namedReference("permil"), 0x2030u);
    EXPECT_EQ(namedReference("euro"), 0x20ACu);
    EXPECT_EQ(namedReference("yuml"), 0xFFu);
    EXPECT_EQ(namedReference("Yuml"), 0x178u);
    EXPECT_EQ(namedReference("diams"), 0x2666u);
    EXPECT_EQ(namedReference("hellip"), 0x2026u);
    EXPECT_EQ(namedReference("nosuch"), 0u);
    EXPECT_EQ(namedReference(""), 0u);
}

} // namespace
} // namespace parvelle::markup
