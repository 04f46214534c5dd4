// Wrapper identity, navigation, counts and string values of the node wrappers.

#include "tests/xml/XMLTestSupport.h"

using xmltest::XMLModelTest;

namespace {

class CXMLNodeTest : public XMLModelTest {};

std::optional<std::string> text(const char* value) { return std::string(value); }

}  // namespace

// Asking twice for the same libxml2 node gives the same wrapper, and the pool grows once.
TEST_F(CXMLNodeTest, SameNodeYieldsSameWrapperAndPoolGrowsOnce) {
    auto document = parse("<a><b/><c/></a>");
    CXMLElement* root = document->rootElement();
    const size_t poolAfterRoot = document->nodePool().size();
    EXPECT_EQ(poolAfterRoot, 1u);

    CXMLNode* first = root->childAtIndex(0);
    CXMLNode* again = root->childAtIndex(0);
    EXPECT_EQ(first, again);
    EXPECT_EQ(document->nodePool().size(), poolAfterRoot + 1);

    // Every road to the node arrives at the same wrapper.
    EXPECT_EQ(root->children().at(0), first);
    EXPECT_EQ(root->children().at(1)->previousSibling(), first);
    EXPECT_EQ(document->nodesForXPath("//b").at(0), first);
    EXPECT_EQ(document->rootElement(), root);
    EXPECT_EQ(document->nodePool().size(), poolAfterRoot + 2);  // only c was new
}

// Elements get CXMLElement wrappers, other kinds plain CXMLNode; a document node yields its
// CXMLDocument, which is never put in its own pool.
TEST_F(CXMLNodeTest, FactoryPicksTheClassByKind) {
    auto document = parse("<a k='v'>t<!--c--><![CDATA[d]]><e/></a>");
    CXMLElement* root = document->rootElement();
    ASSERT_NE(root, nullptr);
    for (CXMLNode* child : root->children()) {
        EXPECT_EQ(dynamic_cast<CXMLElement*>(child) != nullptr, child->kind() == 1);
    }
    EXPECT_EQ(dynamic_cast<CXMLElement*>(root->attributes().at(0)), nullptr);
    EXPECT_EQ(root->attributes().at(0)->kind(), 2);

    EXPECT_EQ(CXMLNode::nodeWithLibXMLNode(document->libXMLNode()), document.get());
    EXPECT_EQ(CXMLNode::nodeWithLibXMLNode(nullptr), nullptr);
    for (const auto& wrapper : document->nodePool()) EXPECT_NE(wrapper.get(), document.get());
}

// The document's libxml2 tree points back at the wrappers through `_private`, and a wrapper
// built directly neither claims the node nor releases another wrapper's claim.
TEST_F(CXMLNodeTest, PrivateFieldTracksTheOneWrapper) {
    auto document = parse("<a><b/></a>");
    CXMLNode* b = document->rootElement()->childAtIndex(0);
    xmlNode* raw = b->libXMLNode();
    EXPECT_EQ(raw->_private, b);
    EXPECT_EQ(reinterpret_cast<xmlDoc*>(document->libXMLNode())->_private, document.get());
    {
        CXMLNode standalone(raw);
        EXPECT_EQ(standalone.name(), text("b"));
        EXPECT_EQ(raw->_private, b);
    }
    EXPECT_EQ(raw->_private, b);
    EXPECT_EQ(CXMLNode::nodeWithLibXMLNode(raw), b);
}

// The root element of <a><b/></a> sits at level 1, index 0 with one child, under the document.
TEST_F(CXMLNodeTest, RootElementNavigation) {
    auto document = parse("<a><b/></a>");
    CXMLElement* a = document->rootElement();
    EXPECT_EQ(a->name(), text("a"));
    EXPECT_EQ(a->level(), 1u);
    EXPECT_EQ(a->index(), 0u);
    EXPECT_EQ(a->childCount(), 1u);
    EXPECT_EQ(a->parent(), document.get());
    EXPECT_EQ(a->rootDocument(), document.get());
    CXMLNode* b = a->childAtIndex(0);
    EXPECT_EQ(b->level(), 2u);
    EXPECT_EQ(b->parent(), a);
    EXPECT_EQ(b->childCount(), 0u);
    EXPECT_EQ(document->level(), 0u);
    EXPECT_EQ(document->index(), 0u);
    EXPECT_EQ(document->rootDocument(), document.get());
}

// parent() only reports a wrapper that already exists: it never makes one.
TEST_F(CXMLNodeTest, ParentOfUnwrappedParentIsAbsent) {
    auto document = parse("<a><b><c/></b></a>");
    CXMLNode* c = document->nodesForXPath("//c").at(0);
    const size_t pool = document->nodePool().size();
    EXPECT_EQ(c->parent(), nullptr);
    EXPECT_EQ(document->nodePool().size(), pool);

    CXMLNode* b = document->nodesForXPath("//b").at(0);
    EXPECT_EQ(c->parent(), b);
}

// Whitespace between elements is a child like any other; indexes and ends follow from it.
TEST_F(CXMLNodeTest, CountsIncludeWhitespaceText) {
    auto document = parse("<a> <b/> </a>");
    CXMLElement* a = document->rootElement();
    ASSERT_EQ(a->childCount(), 3u);
    EXPECT_EQ(a->children().size(), 3u);
    EXPECT_EQ(a->childAtIndex(3), nullptr);
    EXPECT_EQ(a->childAtIndex(1000), nullptr);

    CXMLNode* b = a->childAtIndex(1);
    EXPECT_EQ(b->name(), text("b"));
    EXPECT_EQ(b->index(), 1u);
    EXPECT_EQ(b->previousSibling()->kind(), 3);
    EXPECT_EQ(b->previousSibling()->stringValue(), text(" "));
    EXPECT_EQ(b->nextSibling()->index(), 2u);
    EXPECT_EQ(a->childAtIndex(0)->previousSibling(), nullptr);
    EXPECT_EQ(a->childAtIndex(2)->nextSibling(), nullptr);
    EXPECT_EQ(a->childAtIndex(2)->level(), 2u);

    // The document's own children: a leading comment puts the root element at index 1.
    auto withComment = parse("<!--lead--><r/>");
    EXPECT_EQ(withComment->childCount(), 2u);
    EXPECT_EQ(withComment->rootElement()->index(), 1u);
}

// Attributes are counted among attributes: index is the position in the attribute list, and
// their level is one below their element.
TEST_F(CXMLNodeTest, AttributePositionAndLevel) {
    auto document = parse("<a><b x='1' y='2'/></a>");
    auto* b = dynamic_cast<CXMLElement*>(document->rootElement()->childAtIndex(0));
    ASSERT_NE(b, nullptr);
    CXMLNode* y = b->attributeForName("y");
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->index(), 1u);
    EXPECT_EQ(y->level(), 3u);
    EXPECT_EQ(y->parent(), b);
    EXPECT_EQ(y->childCount(), 1u);  // the value's text node
    EXPECT_EQ(y->previousSibling(), b->attributeForName("x"));
    EXPECT_EQ(y->nextSibling(), nullptr);
}

// String values: a text node is its content; an element joins only its direct text and CDATA.
TEST_F(CXMLNodeTest, StringValuesOfTextAndElements) {
    auto document = parse("<t>x<b>y</b>z</t>");
    CXMLElement* t = document->rootElement();
    EXPECT_EQ(t->stringValue(), text("xz"));
    EXPECT_EQ(t->childAtIndex(0)->stringValue(), text("x"));
    EXPECT_EQ(t->childAtIndex(1)->stringValue(), text("y"));
    EXPECT_EQ(t->childAtIndex(0)->name(), text("text"));

    // Bytes beyond ASCII come back as the same UTF-8.
    auto utf8 = parse("<a>h\xC3\xA9llo \xE2\x9C\x93</a>");
    EXPECT_EQ(utf8->rootElement()->stringValue(), text("h\xC3\xA9llo \xE2\x9C\x93"));
}

// CDATA counts for its element, but the CDATA node itself, a comment, an empty element and an
// element with only element children all have no string value (absent, not empty).
TEST_F(CXMLNodeTest, AbsentStringValues) {
    auto document = parse("<r><t><![CDATA[a<b]]></t><c><!--note--></c><e/><p><q/></p><d></d></r>");
    CXMLElement* r = document->rootElement();
    CXMLNode* t = r->childAtIndex(0);
    EXPECT_EQ(t->stringValue(), text("a<b"));
    EXPECT_EQ(t->childAtIndex(0)->kind(), 4);
    EXPECT_EQ(t->childAtIndex(0)->stringValue(), std::nullopt);
    EXPECT_EQ(t->childAtIndex(0)->name(), std::nullopt);

    CXMLNode* comment = r->childAtIndex(1)->childAtIndex(0);
    EXPECT_EQ(comment->kind(), 8);
    EXPECT_EQ(comment->name(), text("comment"));
    EXPECT_EQ(comment->stringValue(), std::nullopt);
    EXPECT_EQ(r->childAtIndex(1)->stringValue(), std::nullopt);
    EXPECT_EQ(r->childAtIndex(2)->stringValue(), std::nullopt);
    EXPECT_EQ(r->childAtIndex(3)->stringValue(), std::nullopt);
    EXPECT_EQ(r->childAtIndex(4)->stringValue(), std::nullopt);
    EXPECT_EQ(document->stringValue(), std::nullopt);
    EXPECT_EQ(document->name(), std::nullopt);
}

// An attribute's string value is its value with character and entity references replaced; an
// empty value is empty, not absent.
TEST_F(CXMLNodeTest, AttributeStringValues) {
    auto document = parse(
        "<!DOCTYPE a [<!ENTITY who 'world'><!ENTITY greet 'hello &who;'>]>"
        "<a v='x &amp; &lt;y&gt; &#233;' w='&greet;!' empty=''>&greet;, <b/>again &who;</a>");
    CXMLElement* a = document->rootElement();
    EXPECT_EQ(a->attributeForName("v")->stringValue(), text("x & <y> \xC3\xA9"));
    EXPECT_EQ(a->attributeForName("w")->stringValue(), text("hello world!"));
    EXPECT_EQ(a->attributeForName("empty")->stringValue(), text(""));
    EXPECT_EQ(a->attributeForName("missing"), nullptr);
    EXPECT_EQ(a->attributeForName("V"), nullptr);
    // In element content too, nested references included.
    EXPECT_EQ(a->stringValue(), text("hello world, again world"));
}

// Element lookup by name takes element children only, matched byte for byte on the local name
// (namespaces are not considered), in order.
TEST_F(CXMLNodeTest, ElementsForNameAndAttributes) {
    auto document = parse(
        "<item xmlns:x='urn:x'><author>A</author>author<x:author>N</x:author><Author/>"
        "<author>B</author><sub><author>C</author></sub></item>");
    CXMLElement* item = document->rootElement();
    auto authors = item->elementsForName("author");
    ASSERT_EQ(authors.size(), 3u);
    EXPECT_EQ(authors[0]->stringValue(), text("A"));
    EXPECT_EQ(authors[1]->stringValue(), text("N"));
    EXPECT_EQ(authors[2]->stringValue(), text("B"));
    EXPECT_TRUE(item->elementsForName("nothing").empty());

    auto tagged = parse("<e a='1' b='2' c='3'/>");
    auto attributes = tagged->rootElement()->attributes();
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0]->name(), text("a"));
    EXPECT_EQ(attributes[2]->name(), text("c"));
    EXPECT_EQ(tagged->rootElement()->attributeForName("b"), attributes[1]);
    EXPECT_TRUE(parse("<e/>")->rootElement()->attributes().empty());
}
