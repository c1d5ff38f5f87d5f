// The message model and the properties derived when a message is saved.
#include "platform/text.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/distribution_list.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/html_text.h"
#include "store/mapi/name_id_map.h"
#include "store/mapi/tags.h"

#include <gtest/gtest.h>

#include <map>

#include "dist_list_stream.h"

namespace parvelle::mapi {
namespace {

TEST(SubjectSplit, PrefixIsUpToThreeLettersAndAColon) {
    struct Case {
        const char* subject;
        const char* prefix;
        const char* normalized;
    };
    const Case cases[] = {
        {"RE: Lunch", "RE: ", "Lunch"},
        {"FW:Lunch", "FW:", "Lunch"},
        {"AW:  Treffen", "AW:  ", "Treffen"},
        {"Lunch", "", "Lunch"},
        {"Note: four letters", "", "Note: four letters"},
        {"10: numbers are no prefix", "", "10: numbers are no prefix"},
        {"", "", ""},
        {"Ré: accented", "", "Ré: accented"},
    };
    for (const Case& c : cases) {
        const SubjectParts parts = splitSubject(c.subject);
        EXPECT_EQ(parts.prefix, c.prefix) << c.subject;
        EXPECT_EQ(parts.normalized, c.normalized) << c.subject;
    }
}

TEST(DeriveOnSave, FillsWhatOutlookComputes) {
    Message m;
    m.props.setString(tags::kSubject, "RE: Budget ✓");
    m.props.setString(tags::kSenderName, "Ann");
    m.props.setString(tags::kSenderEmail, "ann@example.org");
    m.props.setInt(tags::kMessageFlags, tags::kMsgFlagUnsent);
    m.recipients.push_back(Recipient::make("Bob", "bob@example.org", tags::kRecipTo));
    m.recipients.push_back(Recipient::make("", "carl@example.org", tags::kRecipTo));
    m.recipients.push_back(Recipient::make("Dora", "dora@example.org", tags::kRecipCc));
    m.recipients.push_back(Recipient::make("Eve", "eve@example.org", tags::kRecipBcc));
    m.attachments.push_back(Attachment::byValue("Quarterly report.xlsx", Binary(10, 1)));
    deriveOnSave(m, {FileTime::fromUnixSeconds(1700000000)});

    EXPECT_EQ(m.props.string(tags::kMessageClass), "IPM.Note");
    EXPECT_EQ(m.props.string(tags::kSubjectPrefix), "RE: ");
    EXPECT_EQ(m.props.string(tags::kNormalizedSubject), "Budget ✓");
    EXPECT_EQ(m.props.string(tags::kConversationTopic), "Budget ✓");
    EXPECT_EQ(m.props.string(tags::kDisplayTo), "Bob; carl@example.org");
    EXPECT_EQ(m.props.string(tags::kDisplayCc), "Dora");
    EXPECT_EQ(m.props.string(tags::kDisplayBcc), "Eve");
    const std::int32_t flags = m.props.int32(tags::kMessageFlags);
    EXPECT_EQ(flags & tags::kMsgFlagUnsent, 0) << "a saved item is no draft";
    EXPECT_NE(flags & tags::kMsgFlagHasAttach, 0);
    EXPECT_TRUE(m.props.boolean(tags::kHasAttachments));
    // Submit and delivery times are set, so Outlook shows no conversion date.
    EXPECT_EQ(m.props.get(tags::kClientSubmitTime)->asTime(),
              FileTime::fromUnixSeconds(1700000000));
    EXPECT_EQ(m.props.get(tags::kMessageDeliveryTime)->asTime(),
              FileTime::fromUnixSeconds(1700000000));
    EXPECT_EQ(m.props.int32(tags::kInternetCodepage), 65001);
    ASSERT_TRUE(m.props.get(tags::kSearchKey)->asBinary());
    EXPECT_EQ(m.props.get(tags::kSearchKey)->asBinary()->size(), 16u);
    EXPECT_GT(m.props.int32(tags::kMessageSize), 10);
    // The sender's entry id and search key, and "sent representing" defaulting to the sender.
    EXPECT_EQ(*m.props.get(tags::kSenderSearchKey)->asBinary(),
              addressSearchKey("SMTP", "ann@example.org"));
    EXPECT_EQ(m.props.string(tags::kSentRepresentingEmail), "ann@example.org");

    const Recipient& carl = m.recipients[1];
    EXPECT_EQ(carl.props.string(tags::kDisplayName), "carl@example.org");
    EXPECT_EQ(*carl.props.get(tags::kEntryId)->asBinary(),
              oneOffEntryId("carl@example.org", "SMTP", "carl@example.org"));
    EXPECT_EQ(carl.props.int32(tags::kObjectType), tags::kObjectMailUser);

    const Attachment& a = m.attachments[0];
    EXPECT_EQ(a.props.string(tags::kAttachExtension), ".xlsx");
    EXPECT_EQ(a.props.string(tags::kAttachFilename), "QUARTE~1.XLS");
    EXPECT_EQ(a.props.int32(tags::kRenderingPosition), -1);
    EXPECT_EQ(a.props.int32(tags::kAttachNumber), 0);
    EXPECT_GE(a.props.int32(tags::kAttachSize), 10);
}

TEST(DeriveOnSave, KeepsWhatTheCallerSet) {
    Message m;
    m.props.setString(tags::kMessageClass, "IPM.Contact");
    m.props.setInt(tags::kMessageFlags, 0); // unread
    m.props.setTime(tags::kMessageDeliveryTime, FileTime::fromUnixSeconds(1600000000));
    deriveOnSave(m, {FileTime::fromUnixSeconds(1700000000)});
    EXPECT_EQ(m.props.string(tags::kMessageClass), "IPM.Contact");
    EXPECT_EQ(m.props.int32(tags::kMessageFlags) & tags::kMsgFlagRead, 0);
    EXPECT_EQ(m.props.get(tags::kClientSubmitTime)->asTime(),
              FileTime::fromUnixSeconds(1600000000));
}

TEST(DeriveOnSave, PlainBodyFromHtmlOnly) {
    Message m;
    m.props.setString(tags::kHtml,
                      "<html><body><p>Hello &amp; welcome</p><p>Line<br>two</p></body></html>");
    deriveOnSave(m);
    EXPECT_EQ(m.props.string(tags::kBody), "Hello & welcome\r\nLine\r\ntwo");
    ASSERT_TRUE(m.props.get(tags::kHtml)->asBinary()) << "PidTagHtml is binary";
    EXPECT_EQ(m.props.int32(tags::kNativeBody), 3);
}

TEST(HtmlToPlainText, MarkupRules) {
    struct Case {
        const char* html;
        const char* text;
    };
    const Case cases[] = {
        {"<b>bold</b> and <i>italic</i>", "bold and italic"},
        {"<head><title>T</title><style>x{}</style></head>body", "body"},
        {"<script>var a = '<p>';</script>after", "after"},
        {"a  \n\t b", "a b"},
        {"&lt;tag&gt; &#233; &#x263A; &nbsp;x &bogus; &", "<tag> é ☺  x &bogus; &"},
        {"<!-- comment <p> -->visible", "visible"},
        {"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", "1\t2\r\n3"},
        {"<pre>keep  two\nlines</pre>", "keep  two\nlines"},
        {"1 < 2", "1 < 2"},
        {"<a href=\"x>y\">link</a>", "link"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(htmlToPlainText(c.html), c.text) << c.html;
}

TEST(ShortFileName, DosEightDotThree) {
    const std::pair<const char*, const char*> cases[] = {
        {"report.pdf", "REPORT.PDF"},   {"Quarterly report.xlsx", "QUARTE~1.XLS"},
        {"résumé.doc", "R_SUM_~1.DOC"}, {"noext", "NOEXT"},
        {".hidden", "HIDDEN~1"},        {"a.b.c", "AB~1.C"},
    };
    for (const auto& [longName, shortName] : cases)
        EXPECT_EQ(shortFileName(longName), shortName) << longName;
}

TEST(EntryIds, OneOffLayout) {
    const Binary id = oneOffEntryId("Bob", "SMTP", "b@x.org");
    ASSERT_GE(id.size(), 24u);
    EXPECT_EQ(std::vector<std::uint8_t>(id.begin(), id.begin() + 4),
              std::vector<std::uint8_t>(4, 0));
    EXPECT_TRUE(std::equal(kOneOffProviderUid.begin(), kOneOffProviderUid.end(), id.begin() + 4));
    EXPECT_EQ(id[22] | (id[23] << 8), 0x8001); // Unicode strings, no rich information
    const std::string strings(id.begin() + 24, id.end());
    EXPECT_EQ(strings, text::utf8ToUtf16le("Bob") + std::string(2, '\0') +
                           text::utf8ToUtf16le("SMTP") + std::string(2, '\0') +
                           text::utf8ToUtf16le("b@x.org") + std::string(2, '\0'));
    const Binary key = addressSearchKey("smtp", "Bob@X.org");
    EXPECT_EQ(std::string(key.begin(), key.end()), std::string("SMTP:BOB@X.ORG") + '\0');
}

TEST(DistributionListStream, HoldsEveryMemberInOrderWithTheTotals) {
    const Binary alice = oneOffEntryId("Alice Archer", "SMTP", "alice@example.com");
    const Binary zoe = oneOffEntryId("Zoë Ångström 📎", "SMTP", "zoe@example.se");
    const Binary wide(70000, 0xAB); // longer than a 16-bit size could say
    const std::vector<std::vector<DistListMember>> cases = {
        {},
        {{alice, alice}},
        {{alice, alice}, {zoe, {}}, {wide, zoe}, {{}, alice}},
    };
    for (const auto& members : cases) {
        SCOPED_TRACE(members.size());
        const Binary stream = distributionListStream(members);
        const auto parsed = testing::parseDistListStream(stream);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->version, 1);
        EXPECT_EQ(parsed->reserved, 0);
        EXPECT_EQ(parsed->buildVersion, 30000u); // business card definition version 3.0
        EXPECT_EQ(parsed->flags, 0u);
        EXPECT_EQ(parsed->totalExtraSize, 0u);
        ASSERT_EQ(parsed->count, members.size());
        ASSERT_EQ(parsed->members.size(), members.size());
        std::size_t entryIdBytes = 0;
        std::size_t oneOffBytes = 0;
        for (std::size_t i = 0; i < members.size(); ++i) {
            EXPECT_EQ(parsed->members[i].entryId, members[i].entryId) << i;
            EXPECT_EQ(parsed->members[i].oneOffEntryId, members[i].oneOffEntryId) << i;
            entryIdBytes += members[i].entryId.size();
            oneOffBytes += members[i].oneOffEntryId.size();
        }
        EXPECT_EQ(parsed->totalEntryIdSize, entryIdBytes);
        EXPECT_EQ(parsed->totalOneOffSize, oneOffBytes);
    }
}

TEST(DistributionListStream, ListPropertiesStayBelowFifteenThousandBytes) {
    // Each entry id costs its bytes and a 32-bit length, the list a 32-bit count.
    struct Case {
        std::vector<std::size_t> entrySizes;
        std::size_t listSize;
        std::size_t fitting;
    };
    const Case cases[] = {
        {{}, 4, 0},
        {{14991}, 14999, 1},
        {{14992}, 15000, 0},
        {{14993}, 15001, 0},
        {{7000, 7000, 983}, 14999, 3},
        {{7000, 7000, 984}, 15000, 2},
        {{7000, 7000, 990, 5}, 15015, 2},
        {{0, 0, 0}, 16, 3},
    };
    for (const Case& c : cases) {
        std::vector<Binary> ids;
        for (std::size_t size : c.entrySizes)
            ids.emplace_back(size, 0x41);
        SCOPED_TRACE(c.listSize);
        EXPECT_EQ(memberListSize(ids), c.listSize);
        EXPECT_EQ(membersBelowListLimit(ids), c.fitting);
    }
}

TEST(Utf8Text, ConvertsToUtf16AcrossAsciiRunsAndMultiByteCharacters) {
    // Runs of ASCII longer and shorter than a machine word, around every length of sequence,
    // and bytes that are not UTF-8 (one replacement character each).
    struct Case {
        std::string utf8;
        std::u16string utf16;
        bool valid;
    };
    const Case cases[] = {
        {"", u"", true},
        {"Subject: quarterly report!", u"Subject: quarterly report!", true},
        {"abcdefg\xC3\xA9", u"abcdefg\u00E9", true},
        {"\xC3\xA9"
         "abcdefghijklmnop\xC3\xA9"
         "x",
         u"\u00E9abcdefghijklmnop\u00E9x", true},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5\xE6\x9C\xAC 12345678",
         u"Gr\u00FC\u00DFe \u65E5\u672C 12345678", true},
        {"mail \xF0\x9F\x93\xA7 sent", u"mail \U0001F4E7 sent", true},
        {"abcdefgh\xFFijklmnop", u"abcdefgh\uFFFDijklmnop", false},
        {"cut \xE6\x97", u"cut \uFFFD\uFFFD", false},
        // Runs of ASCII longer than the sixteen characters widened in one step, around a
        // character outside the BMP; and text of nothing but stray bytes, the largest output.
        {"The quarterly figures are attached; see the second sheet for details "
         "\xF0\x9F\x93\x8E 0123456789abcdefghijklmnopqrstuvw",
         u"The quarterly figures are attached; see the second sheet for details "
         u"\U0001F4CE 0123456789abcdefghijklmnopqrstuvw",
         true},
        {"\xFF\xFE\xFF", u"\uFFFD\uFFFD\uFFFD", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(text::utf8ToUtf16(c.utf8), c.utf16);
        std::string le;
        for (char16_t u : c.utf16) {
            le.push_back(static_cast<char>(u & 0xFF));
            le.push_back(static_cast<char>(u >> 8));
        }
        EXPECT_EQ(text::utf8ToUtf16le(c.utf8), le);
        EXPECT_EQ(text::utf16Length(c.utf8), c.utf16.size());
        EXPECT_EQ(text::isValidUtf8(c.utf8), c.valid);
    }
    // Every other character at every place in and around a sixteen-byte step.
    const std::pair<std::string, std::u16string> others[] = {
        {"\xC3\xA9", u"\u00E9"}, {"\xE6\x97\xA5", u"\u65E5"},   {"\xF0\x9F\x93\xA7", u"\U0001F4E7"},
        {"\xFF", u"\uFFFD"},     {"\xE6\x97", u"\uFFFD\uFFFD"},
    };
    for (const auto& [bytes, units] : others)
        for (std::size_t before = 0; before <= 34; ++before)
            for (std::size_t after : {0, 1, 2, 15, 16, 17, 33}) {
                const std::string utf8 = std::string(before, 'a') + bytes + std::string(after, 'b');
                const std::u16string utf16 =
                    std::u16string(before, u'a') + units + std::u16string(after, u'b');
                std::string le;
                for (char16_t u : utf16) {
                    le.push_back(static_cast<char>(u & 0xFF));
                    le.push_back(static_cast<char>(u >> 8));
                }
                ASSERT_EQ(text::utf8ToUtf16le(utf8), le) << before << "/" << after;
            }
}

TEST(Utf8Text, AsciiRunEndsAtTheFirstOtherByteWhereverItIs) {
    // Runs are scanned many bytes at a time: the first non-ASCII byte at every position of the
    // first steps, and from every start, is found exactly.
    for (std::size_t at = 0; at < 80; ++at) {
        const std::string s = std::string(at, 'a') + "\xC3\xA9" + std::string(40, 'b');
        for (std::size_t from = 0; from <= at; ++from)
            ASSERT_EQ(text::asciiRunEnd(s, from), at) << "at " << at << " from " << from;
        ASSERT_EQ(text::asciiRunEnd(s, at + 2), s.size());
    }
}

TEST(NameIdMap, IdsAreStableAndDense) {
    NameIdMap map;
    const NamedProperty a{psets::kAddress, 0x8083u};
    const NamedProperty b{psets::kPublicStrings, std::string("Keywords")};
    EXPECT_EQ(map.idFor(a), 0x8000);
    EXPECT_EQ(map.idFor(b), 0x8001);
    EXPECT_EQ(map.idFor(a), 0x8000);
    EXPECT_EQ(map.find(b), 0x8001);
    EXPECT_FALSE(map.find({psets::kTask, 0x8101u}));
    // A numeric PS_MAPI name is the ordinary property of that id.
    EXPECT_EQ(map.idFor({psets::kMapi, 0x0037u}), 0x0037);
    ASSERT_NE(map.nameOf(0x8001), nullptr);
    EXPECT_EQ(*map.nameOf(0x8001), b);
    EXPECT_EQ(map.nameOf(0x8002), nullptr);
}

TEST(Guid, ParseAndOnDiskOrder) {
    const auto g = Guid::parse("{00062008-0000-0000-C000-000000000046}");
    ASSERT_TRUE(g);
    EXPECT_EQ(*g, psets::kCommon);
    const auto bytes = g->bytes();
    EXPECT_EQ(bytes[0], 0x08);
    EXPECT_EQ(bytes[1], 0x20);
    EXPECT_EQ(bytes[2], 0x06);
    EXPECT_EQ(bytes[8], 0xC0);
    EXPECT_EQ(Guid::fromBytes(bytes.data()), *g);
    EXPECT_EQ(g->toString(), "00062008-0000-0000-C000-000000000046");
    EXPECT_FALSE(Guid::parse("not-a-guid"));
}

// Unix seconds and FILETIME ticks: exact both ways inside the range both hold; ticks that files
// may hold beyond it (up to 2^64 - 1) still give their time, and seconds beyond it are clamped.
TEST(FileTime, UnixSecondsBothWaysAndAtTheEnds) {
    struct Case {
        std::uint64_t ticks;
        std::int64_t seconds;
    };
    const Case exact[] = {
        {FileTime::kUnixEpochTicks, 0},
        {FileTime::kUnixEpochTicks + 17000000000000000ULL, 1700000000},
        {0, -11644473600LL},                           // 1601-01-01
        {FileTime::kUnixEpochTicks - 10000000ULL, -1}, // 1969-12-31 23:59:59
        {18446744073709551615ULL / 10000000ULL * 10000000ULL, 1833029933770LL}, // the last second
    };
    for (const Case& c : exact) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(FileTime{c.ticks}.toUnixSeconds(), c.seconds);
        EXPECT_EQ(FileTime::fromUnixSeconds(c.seconds).ticks, c.ticks);
    }
    // Part seconds round toward the epoch, on either side of it.
    EXPECT_EQ(FileTime{FileTime::kUnixEpochTicks + 19999999}.toUnixSeconds(), 1);
    EXPECT_EQ(FileTime{FileTime::kUnixEpochTicks - 19999999}.toUnixSeconds(), -1);
    EXPECT_EQ(FileTime{0x8000000000000000ULL}.toUnixSeconds(), 910692730085LL);
    EXPECT_EQ(FileTime{~0ULL}.toUnixSeconds(), 1833029933770LL);
    EXPECT_EQ(FileTime::fromUnixSeconds(-20000000000LL).ticks, 0u);
    EXPECT_EQ(FileTime::fromUnixSeconds(INT64_MAX).ticks, ~0ULL);
    EXPECT_EQ(FileTime::fromUnixSeconds(INT64_MIN).ticks, 0u);
}

TEST(PropertyBag, KeysAreIdsWhateverTheType) {
    PropertyBag bag;
    bag.set(makeTag(0x0037, PropType::String8), PropValue::string8("old"));
    bag.setString(tags::kSubject, "new");
    EXPECT_EQ(bag.tagged().size(), 1u);
    EXPECT_EQ(bag.get(tags::kSubject)->type(), PropType::Unicode);
    EXPECT_EQ(bag.string(tags::kSubject), "new");
    EXPECT_TRUE(bag.remove(tags::kSubject));
    EXPECT_FALSE(bag.has(tags::kSubject));
    EXPECT_EQ(bag.int32(tags::kImportance, 7), 7);
}

// Values are read back in id order whatever order they were set, replaced and removed in, and
// each id keeps its own value through all of it.
TEST(PropertyBag, ReadsBackInIdOrderThroughSetsReplacementsAndRemovals) {
    struct Step {
        char op; // 's' set, 'r' remove
        std::uint16_t id;
    };
    const std::vector<std::vector<Step>> cases = {
        {{'s', 0x0E07}, {'s', 0x0037}, {'s', 0x3001}, {'s', 0x0017}},
        {{'s', 5}, {'s', 3}, {'s', 9}, {'r', 3}, {'s', 1}, {'s', 3}},
        {{'s', 1}, {'s', 2}, {'s', 3}, {'r', 3}, {'r', 1}, {'s', 0}, {'s', 4}},
        {{'s', 7}, {'s', 2}, {'s', 7}, {'r', 7}, {'r', 2}, {'r', 2}, {'s', 2}},
        {{'s', 0x8001}, {'s', 0x0001}, {'s', 0x7FFF}, {'r', 0x0001}, {'s', 0x4000}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        PropertyBag bag;
        std::map<std::uint16_t, std::string> want;
        int serial = 0;
        for (const Step& step : cases[c]) {
            const PropTag tag = makeTag(step.id, PropType::Unicode);
            if (step.op == 's') {
                const std::string text = std::to_string(step.id) + "#" + std::to_string(++serial);
                bag.setString(tag, text);
                want[step.id] = text;
            } else {
                EXPECT_EQ(bag.remove(tag), want.erase(step.id) == 1);
            }
        }
        std::vector<std::pair<std::uint16_t, std::string>> seen;
        for (const auto& [id, value] : bag.tagged())
            seen.emplace_back(id, *value.asString());
        const std::vector<std::pair<std::uint16_t, std::string>> inOrder(want.begin(), want.end());
        EXPECT_EQ(seen, inOrder);
        for (const auto& [id, text] : want)
            EXPECT_EQ(bag.string(makeTag(id, PropType::Unicode)), text);
        auto released = bag.releaseTagged();
        EXPECT_EQ(released.size(), want.size());
        EXPECT_TRUE(bag.empty());
    }
}

} // namespace
} // namespace parvelle::mapi
