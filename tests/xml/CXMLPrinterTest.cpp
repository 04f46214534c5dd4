// The markup printer and the debugging descriptions.

#include "tests/xml/XMLTestSupport.h"

#include "platform/Log.h"

#include <cctype>

using xmltest::XMLModelTest;

namespace {

class CXMLPrinterTest : public XMLModelTest {
protected:
    std::string printed(const std::string& xml) {
        auto document = parse(xml);
        return document ? document->XMLString() : "<no document>";
    }

    platform::LogCapture log;
};

// For "<Class 0xHEX [0xHEX]" followed by the rest, returns the rest; "<bad shape>" otherwise.
std::string afterDescriptionHead(const std::string& text, const std::string& className) {
    const std::string head = "<" + className + " 0x";
    if (text.rfind(head, 0) != 0) return "<bad shape>";
    auto skipHex = [&](size_t at) {
        const size_t start = at;
        while (at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]))) ++at;
        return at == start ? std::string::npos : at;
    };
    size_t at = skipHex(head.size());
    if (at == std::string::npos || text.compare(at, 4, " [0x") != 0) return "<bad shape>";
    at = skipHex(at + 4);
    if (at == std::string::npos || text[at] != ']') return "<bad shape>";
    return text.substr(at + 1);
}

}  // namespace

// Attribute values are quoted with only double quotes escaped; text is written as it is.
TEST_F(CXMLPrinterTest, EscapesOnlyQuotesInAttributes) {
    EXPECT_EQ(printed("<a t='say \"hi\"' u=\"&lt;&amp;&gt;'\">1 &lt; 2 &amp;&amp; 3 &gt; 2</a>"),
              "<a t=\"say &quot;hi&quot;\" u=\"<&>'\">1 < 2 && 3 > 2</a>");
    EXPECT_EQ(printed("<a empty=''/>"), "<a empty=\"\"></a>");
}

// A childless element named like an HTML void element closes itself and logs its name; any
// other childless element gets an opening and a closing tag. The match is case-sensitive.
TEST_F(CXMLPrinterTest, VoidElementsCloseThemselvesAndAreLogged) {
    EXPECT_EQ(printed("<br class='x'/>"), "<br class=\"x\"/>");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"br"});
    log.clear();

    EXPECT_EQ(printed("<div><p/><img src='a'/><hr></hr><meta/><BR/><br>text</br></div>"),
              "<div><p></p><img src=\"a\"/><hr/><meta/><BR></BR><br>text</br></div>");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"img", "hr", "meta"}));
    log.clear();
    for (const char* name : {"area", "link", "param", "input", "col", "base"}) {
        EXPECT_EQ(printed(std::string("<") + name + "/>"), std::string("<") + name + "/>");
    }
    EXPECT_EQ(log.count(), 6u);
}

// Comments and CDATA sections print as nothing; the other children print normally.
TEST_F(CXMLPrinterTest, CommentsAndCDATAAreDropped) {
    EXPECT_EQ(printed("<a>x<!--note--><![CDATA[<raw>]]>y<b>z</b><!--end--></a>"),
              "<a>xy<b>z</b></a>");
    auto document = parse("<a><!--c--><![CDATA[d]]></a>");
    EXPECT_EQ(document->rootElement()->childAtIndex(0)->XMLString(), "");
    EXPECT_EQ(document->rootElement()->childAtIndex(1)->XMLString(), "");
}

// The document prints as its root element only: no declaration, no comment or processing
// instruction outside it. Options change nothing.
TEST_F(CXMLPrinterTest, DocumentPrintsRootElementOnly) {
    auto document =
        parse("<?xml version='1.0'?><!--lead--><?pi x?><root a='1'><x/></root><!--tail-->");
    EXPECT_EQ(document->XMLString(), "<root a=\"1\"><x></x></root>");
    EXPECT_EQ(document->XMLStringWithOptions(0xFFFFFFFFu), document->XMLString());
    EXPECT_EQ(document->rootElement()->XMLStringWithOptions(7), document->XMLString());

    // Appending goes onto what the string already holds, and hands back that same string.
    std::string out = "prefix:";
    std::string& returned = document->rootElement()->_XMLStringWithOptions(0, out);
    EXPECT_EQ(&returned, &out);
    EXPECT_EQ(out, "prefix:<root a=\"1\"><x></x></root>");
}

// An attribute written without a value in HTML (other than the boolean ones, which libxml2
// fills with their own name) has an absent value, and prints as empty quotes.
TEST_F(CXMLPrinterTest, AbsentAttributeValuePrintsAsEmptyQuotes) {
    auto document = CXMLDocument::initWithXMLString(
        "<html><body><input data-x checked name=q></body></html>", CXMLDocumentHTMLOption);
    ASSERT_TRUE(document);
    auto* input = dynamic_cast<CXMLElement*>(document->nodesForXPath("//input").at(0));
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->attributeForName("data-x")->stringValue(), std::nullopt);
    EXPECT_EQ(input->attributeForName("data-x")->XMLString(), " data-x=\"\"");
    EXPECT_EQ(input->XMLString(), "<input data-x=\"\" checked=\"checked\" name=\"q\"/>");
}

// Descriptions name the class, the object and the libxml2 node, then the name and the markup;
// a document's adds libxml2's indented dump of the whole document.
TEST_F(CXMLPrinterTest, Descriptions) {
    auto document = parse("<!--lead--><a b='1'>t<c/></a>");
    CXMLElement* a = document->rootElement();
    EXPECT_EQ(afterDescriptionHead(a->description(), "CXMLElement"), " a <a b=\"1\">t<c></c></a>>");
    CXMLNode* text = a->childAtIndex(0);
    EXPECT_EQ(afterDescriptionHead(text->description(), "CXMLNode"), " text t>");
    CXMLNode* attribute = a->attributeForName("b");
    EXPECT_EQ(afterDescriptionHead(attribute->description(), "CXMLNode"), " b  b=\"1\">");

    EXPECT_EQ(afterDescriptionHead(document->description(), "CXMLDocument"),
              "> <?xml version=\"1.0\"?>\n<!--lead-->\n<a b=\"1\">t<c/></a>\n");
    // The address in brackets is the libxml2 node's, the first one the wrapper's.
    char pointers[64];
    std::snprintf(pointers, sizeof pointers, "%p [%p]", static_cast<void*>(a),
                  static_cast<void*>(a->libXMLNode()));
    EXPECT_NE(a->description().find(pointers), std::string::npos);
}
