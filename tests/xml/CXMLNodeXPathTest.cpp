// XPath queries on documents, elements and other nodes.

#include "tests/xml/XMLTestSupport.h"

using xmltest::XMLModelTest;

namespace {

class CXMLNodeXPathTest : public XMLModelTest {
protected:
    void SetUp() override {
        XMLModelTest::SetUp();
        feed = parse(
            "<rss><channel><title>Station</title>"
            "<image><title>Logo</title></image>"
            "<item><title>One</title><enclosure url='u1'/></item>"
            "<item><title>Two</title><enclosure url='u2'/></item>"
            "</channel></rss>");
    }

    static std::vector<std::string> values(const std::vector<CXMLNode*>& nodes) {
        std::vector<std::string> result;
        for (CXMLNode* node : nodes) result.push_back(node->stringValue().value_or("<absent>"));
        return result;
    }

    std::unique_ptr<CXMLDocument> feed;
};

const CXMLError kUnrelated{"SomeOtherDomain", 42, {}};

}  // namespace

// "//title" finds every title in document order, from the document or from any element; the
// bare relative name finds only the receiver's own children.
TEST_F(CXMLNodeXPathTest, AbsoluteAndRelativeQueries) {
    const std::vector<std::string> all = {"Station", "Logo", "One", "Two"};
    EXPECT_EQ(values(feed->nodesForXPath("//title")), all);

    CXMLNode* secondItem = feed->nodesForXPath("//item").at(1);
    EXPECT_EQ(values(secondItem->nodesForXPath("//title")), all);
    EXPECT_EQ(values(secondItem->nodesForXPath("title")), std::vector<std::string>{"Two"});
    EXPECT_EQ(values(feed->rootElement()->nodesForXPath("title")), std::vector<std::string>{});
    EXPECT_EQ(values(secondItem->nodesForXPath("enclosure/@url")), std::vector<std::string>{"u2"});

    // A text node as the context node.
    CXMLNode* text = secondItem->nodesForXPath("title/text()").at(0);
    EXPECT_EQ(text->kind(), 3);
    EXPECT_EQ(text->nodesForXPath("..").at(0)->name(), std::optional<std::string>("title"));
    // "/" is the document itself.
    EXPECT_EQ(secondItem->nodesForXPath("/").at(0), feed.get());
}

// Values that are not node sets (number, string, boolean) and empty node sets give empty
// arrays; so does a malformed expression, and none of them touches the caller's error.
TEST_F(CXMLNodeXPathTest, NonNodeSetsAndMalformedExpressionsGiveEmptyArrays) {
    for (const char* expression : {"count(//item)", "string(//title)", "1 = 1", "//nothing", "//[",
                                   "//title[", "", "unknown-function(1)", "$undefined"}) {
        std::optional<CXMLError> error = kUnrelated;
        EXPECT_TRUE(feed->nodesForXPath(expression, &error).empty()) << expression;
        EXPECT_EQ(error, kUnrelated) << expression;
        std::optional<CXMLError> none;
        EXPECT_TRUE(feed->rootElement()->nodesForXPath(expression, &none).empty());
        EXPECT_EQ(none, std::nullopt);
    }
}

// Repeating a query returns the very same wrappers and makes no new ones.
TEST_F(CXMLNodeXPathTest, RepeatedQueryReturnsSameWrappers) {
    auto first = feed->nodesForXPath("//item | //enclosure/@url");
    const size_t pool = feed->nodePool().size();
    auto second = feed->nodesForXPath("//item | //enclosure/@url");
    EXPECT_EQ(first, second);
    EXPECT_EQ(feed->nodePool().size(), pool);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[1]->kind(), 2);  // document order: item, its url, item, its url
}

// Result nodes the model cannot wrap end the query with the failure: a processing instruction,
// and a namespace node, which libxml2 hands out as a different structure altogether.
TEST_F(CXMLNodeXPathTest, UnwrappableResultsFail) {
    auto document = parse("<r xmlns:a='urn:a'><?pi x?><e/></r>");
    try {
        document->nodesForXPath("//processing-instruction()");
        ADD_FAILURE() << "no failure";
    } catch (const CXMLInternalInconsistencyException& failure) {
        EXPECT_EQ(failure.description(), "TODO Unhandled type (7).");
    }
    try {
        document->nodesForXPath("//e/namespace::*");
        ADD_FAILURE() << "no failure";
    } catch (const CXMLInternalInconsistencyException& failure) {
        EXPECT_EQ(failure.description(), "TODO Unhandled type (18).");
    }
    // The document stays usable afterwards.
    EXPECT_EQ(document->nodesForXPath("//e").size(), 1u);
}

// Prefixes bound through the mappings select namespaced elements; unbound they select nothing.
TEST_F(CXMLNodeXPathTest, NamespaceMappings) {
    auto document = parse(
        "<rss xmlns:itunes='http://www.itunes.com/dtds/podcast-1.0.dtd' xmlns:o='urn:other'>"
        "<itunes:author>Host</itunes:author><o:author>Other</o:author><author>Plain</author></"
        "rss>");
    const std::map<std::string, std::string> mappings = {
        {"i", "http://www.itunes.com/dtds/podcast-1.0.dtd"}, {"x", "urn:other"}};
    std::optional<CXMLError> error = kUnrelated;
    auto hosts = document->nodesForXPath("//i:author", mappings, &error);
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0]->stringValue(), std::optional<std::string>("Host"));
    EXPECT_EQ(document->nodesForXPath("//x:author | //author", mappings).size(), 2u);
    EXPECT_TRUE(document->nodesForXPath("//i:author").empty());
    EXPECT_TRUE(document->nodesForXPath("//i:author", {}, &error).empty());
    EXPECT_EQ(error, kUnrelated);
}
