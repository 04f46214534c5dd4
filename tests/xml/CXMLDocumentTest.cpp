// Making documents: from bytes, strings (XML and HTML) and URLs, with their error values.

#include "tests/support/TestHttpServer.h"
#include "tests/xml/XMLTestSupport.h"

using testsupport::Response;
using testsupport::TestHttpServer;
using xmltest::XMLModelTest;

namespace {

class CXMLDocumentTest : public XMLModelTest {};

const CXMLError kParseError{"CXMLErrorDomain", 1, {}};
const CXMLError kUnrelated{"SomeOtherDomain", 42, {{"left", "by the caller"}}};

}  // namespace

// Empty, absent and ill-formed bytes give no document and the parse error; the XML parser's
// own diagnostics are left to libxml2 (and reach the handler installed for the thread).
TEST_F(CXMLDocumentTest, DataThatDoesNotParseGivesErrorCodeOne) {
    for (std::string_view bytes :
         {std::string_view(), std::string_view(""), std::string_view("<a><b></a>"),
          std::string_view("not xml"), std::string_view("<a/><b/>")}) {
        std::optional<CXMLError> error;
        EXPECT_EQ(CXMLDocument::initWithData(bytes, 0, &error), nullptr) << bytes;
        EXPECT_EQ(error, kParseError) << bytes;
        EXPECT_EQ(CXMLDocument::initWithData(bytes, 0), nullptr);  // no out-parameter
    }
    diagnostics.clear();
    CXMLDocument::initWithData("<a><b></a>", 0);
    EXPECT_FALSE(diagnostics.messages().empty());
}

// A successful parse of bytes leaves the caller's error untouched; the options are not read, so
// the HTML bit still parses XML (and refuses HTML that is not well-formed XML).
TEST_F(CXMLDocumentTest, DataIgnoresOptionsAndLeavesErrorOnSuccess) {
    std::optional<CXMLError> error = kUnrelated;
    auto document = CXMLDocument::initWithData("<a><b/></a>", CXMLDocumentHTMLOption, &error);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->kind(), 9);
    EXPECT_EQ(document->rootElement()->name(), std::optional<std::string>("a"));
    EXPECT_EQ(error, kUnrelated);

    EXPECT_EQ(CXMLDocument::initWithData("<p>unclosed<br>", CXMLDocumentHTMLOption, &error),
              nullptr);
    EXPECT_EQ(error, kParseError);
    EXPECT_TRUE(CXMLDocument::initWithData("<a/>", 2));  // the feeds' value
}

// Bytes are parsed a block at a time: a document several blocks long comes out whole, with a
// character and a tag split across the blocks' edges, in any encoding the document declares or
// marks; one that breaks off or goes wrong after the first block is refused.
TEST_F(CXMLDocumentTest, LongDataParsesWholeAcrossItsBlocks) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><t>";
    std::string filler(65536 - head.size() - 1, 'x');
    const std::string utf8 =
        head + filler + "\xC3\xA9</t><t>" + std::string(70000, 'y') + "</t></r>";
    auto document = CXMLDocument::initWithData(utf8, 0);
    ASSERT_TRUE(document);
    const auto titles = document->nodesForXPath("//t");
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[0]->stringValue(), filler + "\xC3\xA9");
    EXPECT_EQ(titles[1]->stringValue()->size(), 70000u);

    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>" +
                               std::string(100000, 'z') + "\xE9</r>";
    document = CXMLDocument::initWithData(latin1, 0);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->rootElement()->stringValue(), std::string(100000, 'z') + "\xC3\xA9");

    std::string utf16("\xFF\xFE", 2);
    for (char c : std::string("<r>") + std::string(40000, 'w') + "</r>") utf16 += {c, '\0'};
    document = CXMLDocument::initWithData(utf16, 0);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->rootElement()->stringValue(), std::string(40000, 'w'));

    diagnostics.clear();
    EXPECT_EQ(CXMLDocument::initWithData(utf8.substr(0, 100000), 0), nullptr);
    EXPECT_EQ(CXMLDocument::initWithData(utf8 + "<r/>", 0), nullptr);
    EXPECT_EQ(CXMLDocument::initWithData(head + filler + "</r>" + std::string(70000, ' '), 0),
              nullptr);
}

// The string path clears the caller's error first, then reports a failed XML parse.
TEST_F(CXMLDocumentTest, StringPathClearsThenReportsError) {
    std::optional<CXMLError> error = kUnrelated;
    auto document =
        CXMLDocument::initWithXMLString("<?xml version='1.0'?><r>\xC3\xA9</r>", 0, &error);
    ASSERT_TRUE(document);
    EXPECT_EQ(error, std::nullopt);
    EXPECT_EQ(document->rootElement()->stringValue(), std::optional<std::string>("\xC3\xA9"));

    EXPECT_EQ(CXMLDocument::initWithXMLString("<r>", 0, &error), nullptr);
    EXPECT_EQ(error, kParseError);
    EXPECT_EQ(CXMLDocument::initWithXMLString("", 0, &error), nullptr);
    EXPECT_EQ(error, kParseError);
    // Other option bits do not matter.
    EXPECT_TRUE(CXMLDocument::initWithXMLString("<r/>", 0xFFFFFFFFu & ~CXMLDocumentHTMLOption));
}

// The HTML option parses tag soup into an HTML document without a word of diagnostics, even
// with a handler installed for the thread; the same text as XML fails and is reported.
TEST_F(CXMLDocumentTest, HTMLParsesSilently) {
    const std::string soup = "<html><body><p class=x>One<br><p>Two &nbsp; <b>bold</i></body>";
    std::optional<CXMLError> error = kUnrelated;
    auto document = CXMLDocument::initWithXMLString(soup, CXMLDocumentHTMLOption, &error);
    ASSERT_TRUE(document);
    EXPECT_EQ(error, std::nullopt);
    EXPECT_EQ(document->kind(), 13);
    EXPECT_EQ(document->rootElement()->name(), std::optional<std::string>("html"));
    EXPECT_EQ(document->nodesForXPath("//p").size(), 2u);
    EXPECT_TRUE(diagnostics.messages().empty());

    EXPECT_EQ(CXMLDocument::initWithXMLString(soup, 0, &error), nullptr);
    EXPECT_EQ(error, kParseError);
    EXPECT_FALSE(diagnostics.messages().empty());
}

// An HTML parser context cannot be made over nothing: no document, and no error either.
TEST_F(CXMLDocumentTest, EmptyHTMLGivesNoDocumentAndNoError) {
    std::optional<CXMLError> error = kUnrelated;
    EXPECT_EQ(CXMLDocument::initWithXMLString("", CXMLDocumentHTMLOption, &error), nullptr);
    EXPECT_EQ(error, std::nullopt);
    // The string is read up to its first NUL, as a C string.
    EXPECT_EQ(CXMLDocument::initWithXMLString(std::string("\0<p>x</p>", 9), CXMLDocumentHTMLOption,
                                              &error),
              nullptr);
    EXPECT_EQ(error, std::nullopt);
}

// A document's pool starts empty and holds exactly the wrappers it handed out.
TEST_F(CXMLDocumentTest, PoolHoldsHandedOutWrappers) {
    auto document = parse("<a><b/><c/></a>");
    EXPECT_TRUE(document->nodePool().empty());
    auto all = document->nodesForXPath("//*");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(document->nodePool().size(), 3u);
    for (const auto& wrapper : document->nodePool()) {
        EXPECT_NE(std::find(all.begin(), all.end(), wrapper.get()), all.end());
    }
}

// A document without a root element (HTML made of a comment only) has no root wrapper and
// prints as nothing.
TEST_F(CXMLDocumentTest, NoRootElement) {
    auto document = CXMLDocument::initWithXMLString("<!-- only -->", CXMLDocumentHTMLOption);
    if (!document) GTEST_SKIP() << "this libxml2 makes no document from a lone comment";
    EXPECT_EQ(document->rootElement(), nullptr);
    EXPECT_EQ(document->XMLString(), "");
}

// Loading a URL parses its body; a failed load reports the loader's error, a body that is not
// XML the parse error, and a successful load clears the caller's error.
TEST_F(CXMLDocumentTest, LoadsFromURL) {
    TestHttpServer server;
    server.serve(
        "/adXML.plist",
        Response::bytes("<plist><dict><string>one</string><string>two</string></dict></plist>"));
    server.serve("/page", Response::bytes("<html><body>Oops</body>"));

    std::optional<CXMLError> error = kUnrelated;
    auto document = CXMLDocument::initWithContentsOfURL(server.url("/adXML.plist"), 0, &error);
    ASSERT_TRUE(document);
    EXPECT_EQ(error, std::nullopt);
    EXPECT_EQ(document->nodesForXPath("//string").size(), 2u);

    EXPECT_EQ(CXMLDocument::initWithContentsOfURL(server.url("/missing"), 0, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "URLLoaderErrorDomain");
    EXPECT_EQ(error->code, 404);
    EXPECT_FALSE(error->userInfo.at("description").empty());

    EXPECT_EQ(CXMLDocument::initWithContentsOfURL(server.url("/page"), 0, &error), nullptr);
    EXPECT_EQ(error, kParseError);

    const std::string refused =
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/adXML.plist";
    EXPECT_EQ(CXMLDocument::initWithContentsOfURL(refused, 0, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "URLLoaderErrorDomain");
    EXPECT_EQ(CXMLDocument::initWithContentsOfURL(refused, 0), nullptr);
}
