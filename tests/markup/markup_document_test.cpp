#include "markup/markup_document.h"

#include <gtest/gtest.h>

#include <string>

namespace parvelle::markup {
namespace {

std::string reportOf(std::string_view text) {
    MarkupDocument doc;
    doc.SetText(text);
    return std::string(doc.Report());
}

TEST(MarkupParse, WellFormedness) {
    struct Case {
        const char* text;
        bool wellFormed;
        const char* report;
    };
    const Case cases[] = {
        {"<a/>", true, ""},
        {"<?xml version=\"1.0\"?>\n<a>x<b c='1'/></a>\n", true, ""},
        {"<!DOCTYPE a [<!ELEMENT a ANY><!ATTLIST a b CDATA \"x>y\">]><a/>", true, ""},
        {"<!DOCTYPE a [<!-- note --><?pi x?>]><a/>", true, ""},
        {"", false, ""},
        {"abc", false, "<no_root_element/>"},
        {"<a/><b/>", false, "<root_has_sibling/>"},
        {"<a><b></a>", false, "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>"},
        {"<a></b></a>", false, "<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {"<a>", false, "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"3\"/>"},
        {"<a>1 < 2</a>", false, "<first_tag_syntax offset=\"5\"/>"},
        {"<a><!x></a>", false, "<exclamation_tag_syntax offset=\"3\"/>"},
        {"<a><!-x></a>", false, "<comment_tag_syntax offset=\"3\"/>"},
        {"<a><![x></a>", false, "<cdata_section_syntax offset=\"3\"/>"},
        {"<!DOCTYPE a [<!X>]><a/>", false, "<doctype_tag_syntax offset=\"0\"/>"},
        {"<a><!-- open", false,
         "<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"12\"/>"},
        {"<a b=\"x>", false,
         "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
        {"<a><![CDATA[x", false,
         "<unterminated_tag_syntax type=\"cdata_section\" offset=\"3\"/>"
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"13\"/>"},
        {"<a/><", false, "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {"<a></a", false,
         "<unterminated_tag_syntax type=\"end_tag\" offset=\"3\"/>"
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"6\"/>"},
        {"<?pi", false,
         "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"0\"/>"
         "<no_root_element/>"},
        {"<!DOCTYPE a", false,
         "<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/><no_root_element/>"},
        // Offsets count UTF-16 units: "é" is one unit, "😀" two.
        {"<a>é😀</b></a>", false, "<lone_end_tag tagname=\"b\" offset=\"6\"/>"},
        {"<a x='&'></\xC3\xA9></a>", false, "<lone_end_tag tagname=\"\xC3\xA9\" offset=\"9\"/>"},
    };
    for (const Case& c : cases) {
        MarkupDocument doc;
        EXPECT_EQ(doc.SetText(c.text), c.wellFormed) << c.text;
        EXPECT_EQ(doc.Report(), c.report) << c.text;
    }
}

TEST(MarkupParse, UnendedElementKeepsOnlyItsStartTagAndLosesItsChildren) {
    MarkupDocument doc;
    doc.SetText("<a><b><c/>t</a>");
    ASSERT_TRUE(doc.FindChild("b"));
    const ElementRecord& b = doc.Element(doc.ChildIndex());
    EXPECT_TRUE(b.flags & kUnended);
    EXPECT_EQ(b.length, 3u);
    EXPECT_EQ(b.firstChild, 0u);
    // The former child of b follows it and belongs to a.
    ASSERT_TRUE(doc.FindChild("c"));
    EXPECT_EQ(doc.CurrentName(), "a");
    const ElementRecord& a = doc.Element(doc.CurrentIndex());
    EXPECT_EQ(a.length, 15u);
    EXPECT_FALSE(a.flags & kUnended);
    EXPECT_TRUE(doc.Element(0).flags & kIllFormedDocument);
}

TEST(MarkupParse, NestedUnendedElementsAreFlattenedInDocumentOrder) {
    MarkupDocument doc;
    doc.SetText("<r><a><x/><b><y/><c></r>");
    EXPECT_EQ(doc.Report(), "<unended_start_tag tagname=\"c\" offset=\"17\" offset2=\"20\"/>"
                            "<unended_start_tag tagname=\"b\" offset=\"10\" offset2=\"20\"/>"
                            "<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"20\"/>");
    ASSERT_TRUE(doc.FindSibling("r"));
    std::string order;
    while (doc.FindChild()) {
        order += doc.ChildName();
        EXPECT_EQ(doc.Element(doc.ChildIndex()).parent, doc.CurrentIndex());
    }
    EXPECT_EQ(order, "axbyc");
    // Children appended after the repair go behind the moved ones.
    doc.SetText("<r><q><a><x/></q><z/></r>");
    ASSERT_TRUE(doc.FindSibling("r") && doc.FindChild("q") && doc.Descend() && doc.Descend());
    order.clear();
    while (doc.FindSibling()) {
        order += doc.CurrentName();
    }
    EXPECT_EQ(order, "ax");
    ASSERT_TRUE(doc.Ascend() && doc.Ascend() && doc.FindChild("z"));
}

TEST(MarkupParse, EmptyElementRule) {
    struct Case {
        const char* text;
        bool empty;
    };
    const Case cases[] = {
        {"<a/>", true},      {"<a b/>", true},    {"<a b='1'/>", true},   {"<a b=\"1\"/>", true},
        {"<a b=c />", true}, {"<a b=c/>", false}, {"<a b='x/>'>", false}, {"<a>", false},
    };
    for (const Case& c : cases) {
        MarkupDocument doc;
        doc.SetText(c.text);
        ASSERT_TRUE(doc.FindSibling("a")) << c.text;
        const ElementRecord& r = doc.Element(doc.CurrentIndex());
        EXPECT_EQ(r.length == r.startTagLength && !(r.flags & kUnended), c.empty) << c.text;
    }
}

TEST(MarkupNavigation, ForwardOnlySearches) {
    MarkupDocument doc;
    doc.SetText("<item><A>1</A><B>2</B><C>3</C><D>4</D></item>");
    EXPECT_TRUE(doc.FindSibling("item"));
    // An absent name leaves the position where it was.
    EXPECT_TRUE(doc.FindChild("B"));
    EXPECT_FALSE(doc.FindChild("x"));
    EXPECT_EQ(doc.ChildText(), "2");
    EXPECT_TRUE(doc.FindChild("D"));
    // A name before the current child is not found any more.
    EXPECT_FALSE(doc.FindChild("C"));
    EXPECT_EQ(doc.ChildName(), "D");
    // FindSibling at the top level from the first element.
    MarkupDocument fresh;
    fresh.SetText("<a/><b/><c/>");
    EXPECT_TRUE(fresh.FindSibling("c"));
    EXPECT_FALSE(fresh.FindSibling("a"));
    EXPECT_EQ(fresh.CurrentName(), "c");
}

TEST(MarkupNavigation, FindChildStartsAtTheFirstElementWhenThereIsNoCurrent) {
    MarkupDocument doc;
    doc.SetText("<a><b/></a>");
    EXPECT_TRUE(doc.FindChild("b"));
    EXPECT_EQ(doc.CurrentName(), "a");
    MarkupDocument empty;
    EXPECT_FALSE(empty.FindChild());
    EXPECT_FALSE(empty.FindSibling());
    EXPECT_FALSE(empty.Descend());
    EXPECT_FALSE(empty.Ascend());
    EXPECT_EQ(empty.ChildText(), "");
    EXPECT_EQ(empty.ChildAttribute("x"), "");
}

TEST(MarkupNavigation, NamesThatAreNotPlainNamesMatchNothing) {
    MarkupDocument doc;
    doc.SetText("<r><a x='1'/><b/></r>");
    ASSERT_TRUE(doc.FindSibling("r"));
    for (const char* name : {"a ", "/a", "a=1", "a]", "a[1]", "r/a", "A"}) {
        EXPECT_FALSE(doc.FindChild(name)) << name;
    }
    EXPECT_TRUE(doc.FindChild("a"));
    EXPECT_TRUE(doc.FindChild(""));
    EXPECT_EQ(doc.ChildName(), "b");
}

TEST(MarkupNavigation, ReaderLoopOverAListElement) {
    MarkupDocument doc;
    doc.SetText(R"(<emails><email>
  <OPFMessageCopyAttachmentList>
    <messageAttachment OPFAttachmentName="report" OPFAttachmentContentExtension="pdf"/>
    <messageAttachment OPFAttachmentName='notes'/>
  </OPFMessageCopyAttachmentList>
  <OPFMessageCopySubject>Hello &amp; welcome</OPFMessageCopySubject>
  <OPFMessageCopyToAddresses>
    <emailAddress OPFContactEmailAddressAddress="a@example.com" OPFContactEmailAddressName="A"/>
  </OPFMessageCopyToAddresses>
</email></emails>)");
    ASSERT_TRUE(doc.FindSibling("emails"));
    ASSERT_TRUE(doc.FindChild("email"));
    ASSERT_TRUE(doc.Descend());
    ASSERT_TRUE(doc.FindChild("OPFMessageCopyAttachmentList"));
    ASSERT_TRUE(doc.Descend());
    std::string names;
    while (doc.FindChild("messageAttachment")) {
        names += doc.ChildAttribute("OPFAttachmentName") + "." +
                 doc.ChildAttribute("OPFAttachmentContentExtension") + ";";
    }
    EXPECT_EQ(names, "report.pdf;notes.;");
    ASSERT_TRUE(doc.Ascend());
    EXPECT_EQ(doc.ChildName(), "OPFMessageCopyAttachmentList");
    EXPECT_FALSE(doc.FindChild("OPFMessageCopyCCAddresses"));
    ASSERT_TRUE(doc.FindChild("OPFMessageCopySubject"));
    EXPECT_EQ(doc.ChildText(), "Hello & welcome");
    ASSERT_TRUE(doc.FindChild("OPFMessageCopyToAddresses"));
    ASSERT_TRUE(doc.Descend());
    ASSERT_TRUE(doc.FindChild("emailAddress"));
    EXPECT_EQ(doc.ChildAttribute("OPFContactEmailAddressAddress"), "a@example.com");
    ASSERT_TRUE(doc.Ascend());
    ASSERT_TRUE(doc.Ascend());
    EXPECT_EQ(doc.ChildName(), "email");
    EXPECT_FALSE(doc.FindChild("email"));
}

TEST(MarkupNavigation, CopiesNavigateIndependently) {
    MarkupDocument doc;
    doc.SetText("<a><b>1</b><c>2</c></a>");
    ASSERT_TRUE(doc.FindSibling("a"));
    MarkupDocument copy = doc;
    ASSERT_TRUE(copy.FindChild("c"));
    EXPECT_EQ(doc.ChildIndex(), 0u);
    ASSERT_TRUE(doc.FindChild("b"));
    EXPECT_EQ(copy.ChildText(), "2");
    doc.SetText("<z/>");
    EXPECT_EQ(copy.ChildText(), "2");
    EXPECT_EQ(copy.Text(), "<a><b>1</b><c>2</c></a>");
}

TEST(MarkupContent, ChildText) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"<r><s>a &amp; b</s></r>", "a & b"},
        {"<r><s>x<![CDATA[<y>]]>z</s></r>", "x<y>z"},
        {"<r><s><t>1</t></s></r>", ""},
        {"<r><s/></r>", ""},
        {"<r><s></s></r>", ""},
        {"<r><s>  a\n b  </s></r>", "  a\n b  "},
        {"<r><s>a<!-- c -->b<?p?>c</s></r>", "abc"},
        {"<r><s>  <![CDATA[x]]>  </s></r>", "x"},
        {"<r><s>a<br>b</s></r>", ""},
        {"<r><s>a</x>b</s></r>", "ab"},
        {"<r><s><![C]]></s></r>", ""},
        {"<r><s>&lt</s>;</r>", "&lt"},
        {"<r><s>&#65</s>;</r>", "&#65"},
    };
    for (const Case& c : cases) {
        MarkupDocument doc;
        doc.SetText(c.text);
        ASSERT_TRUE(doc.FindChild("s")) << c.text;
        EXPECT_EQ(doc.ChildText(), c.expected) << c.text;
    }
}

TEST(MarkupContent, ChildAttribute) {
    struct Case {
        const char* tag;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"<s a='x>y'/>", "a", "x>y"},
        {"<s a=\"1\" b='2'/>", "b", "2"},
        {"<s a = \"1\"/>", "a", "1"},
        {"<s href=/a?b=c>t</s>", "href", "/a?b=c"},
        {"<s a=\"&lt;&#x41;&quot;\"/>", "a", "<A\""},
        {"<s nowrap b='1'/>", "nowrap", ""},
        {"<s a='1'/>", "A", ""},
        {"<s a='1'/>", "s", ""},
        {"<s xa='1' a='2'/>", "a", "2"},
        {"<s a='1' a='2'/>", "a", "1"},
        {"<s b=\"a='x'\" a='y'/>", "a", "y"},
    };
    for (const Case& c : cases) {
        MarkupDocument doc;
        doc.SetText(std::string("<r>") + c.tag + "</r>");
        ASSERT_TRUE(doc.FindChild("s")) << c.tag;
        EXPECT_EQ(doc.ChildAttribute(c.name), c.expected) << c.tag << " " << c.name;
    }
}

TEST(MarkupReport, StopsGrowingAtAThousandUnits) {
    std::string text = "<r>";
    for (int i = 0; i < 500; ++i) {
        text += "</x>";
    }
    text += "</r>";
    const std::string report = reportOf(text);
    EXPECT_GE(report.size(), 1000u);
    EXPECT_LT(report.size(), 1100u);
    EXPECT_EQ(report.rfind("<lone_end_tag", 0), 0u);
}

TEST(MarkupReport, EscapesValues) {
    EXPECT_EQ(reportOf("<a></&'\"></a>"),
              "<lone_end_tag tagname=\"&amp;&apos;&quot;\" offset=\"3\"/>");
}

TEST(MarkupRobustness, MalformedInputNeitherCrashesNorHangs) {
    std::string deep(200000, '<');
    std::string nested;
    for (int i = 0; i < 100000; ++i) {
        nested += "<a>";
    }
    std::string lone = nested;
    for (int i = 0; i < 100000; ++i) {
        lone += "</b>";
    }
    std::string attributes = "<a";
    for (int i = 0; i < 100000; ++i) {
        attributes += " x" + std::to_string(i) + "='" + std::to_string(i) + "'";
    }
    attributes += "/>";
    std::string unclosed = nested;
    for (int i = 0; i < 1000; ++i) {
        unclosed += "</a></c>";
    }
    for (const std::string* text : {&deep, &nested, &lone, &attributes, &unclosed}) {
        MarkupDocument doc;
        doc.SetText(*text);
        while (doc.FindChild()) {
            doc.ChildText();
            doc.Descend();
        }
    }
    MarkupDocument doc;
    doc.SetText(attributes);
    ASSERT_TRUE(doc.FindSibling("a"));
    EXPECT_EQ(doc.CurrentAttribute("x99999"), "99999");
    doc.SetText(nested);
    EXPECT_EQ(doc.ElementCount(), 100001u);
}

TEST(MarkupRobustness, InvalidUtf8TextIsRepaired) {
    MarkupDocument doc;
    doc.SetText("<a>\xFF\xC3</a>");
    ASSERT_TRUE(doc.FindSibling("a"));
    EXPECT_EQ(doc.CurrentText(), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
} // namespace parvelle::markup
