#include "feeds/CatalogueLists.h"

#include "feeds/PlainFeedReader.h"

#include "xml/CXMLDocument.h"
#include "xml/CXMLElement.h"

#include <libxml/xmlstring.h>

#include <memory>
#include <optional>
#include <stdexcept>

namespace {

// The feed parser's options value; the model parses bytes as XML whatever it says.
constexpr unsigned kFeedParseOptions = 2;

class MissingValue : public std::runtime_error {
public:
    MissingValue() : std::runtime_error("a catalogue value is absent") {}
};

void append(std::vector<std::string>& list, std::optional<std::string> value) {
    if (!value) throw MissingValue();
    list.push_back(std::move(*value));
}

// Every child of every `title`, in document order; a title of any depth counts.
std::vector<std::string> titlesOf(const CXMLDocument& document) {
    std::vector<std::string> titles;
    for (CXMLNode* title : document.nodesForXPath("//title")) {
        const std::size_t count = title->childCount();
        for (std::size_t index = 0; index < count; ++index) {
            CXMLNode* child = title->childAtIndex(index);
            append(titles, child ? child->stringValue() : std::nullopt);
        }
    }
    return titles;
}

std::vector<std::string> urlsOf(const CXMLDocument& document) {
    std::vector<std::string> urls;
    for (CXMLNode* node : document.nodesForXPath("//enclosure")) {
        const auto* enclosure = dynamic_cast<const CXMLElement*>(node);
        CXMLNode* url = enclosure ? enclosure->attributeForName("url") : nullptr;
        append(urls, url ? url->stringValue() : std::nullopt);
    }
    return urls;
}

// A kind the model has no wrapper for is refused here as the model refuses it anywhere;
// otherwise only an element can have the name.
bool isPlainChildNamed(xmlNode* child, const char* name) {
    switch (child->type) {
        case XML_ELEMENT_NODE: return !child->ns && xmlStrEqual(child->name, BAD_CAST name);
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE: return false;
        default: CXMLNode::nodeWithLibXMLNode(child); return false;
    }
}

// The direct `author` children of every `item` that have no namespace; an item may give none or
// several. A podcast feed's `itunes:author` beside each plain `author` would otherwise double
// the list and shift every name after the first onto the wrong programme.
// Only the matching children are wrapped: an item's whitespace, title and enclosure need no
// wrapper of their own, and a large feed has ten of them an item.
std::vector<std::string> authorsOf(const CXMLDocument& document) {
    std::vector<std::string> authors;
    for (CXMLNode* item : document.nodesForXPath("//item")) {
        for (xmlNode* child = item->libXMLNode()->children; child; child = child->next) {
            if (!isPlainChildNamed(child, "author")) continue;
            append(authors, CXMLNode::nodeWithLibXMLNode(child)->stringValue());
        }
    }
    return authors;
}

}  // namespace

CatalogueLists buildCatalogueListsFromDocument(std::string_view bytes, bool withAuthors) {
    CatalogueLists lists;
    const std::unique_ptr<CXMLDocument> document =
        CXMLDocument::initWithData(bytes, kFeedParseOptions);
    if (!document) return lists;
    lists.titls = titlesOf(*document);
    lists.urls = urlsOf(*document);
    if (withAuthors) lists.artists = authorsOf(*document);
    return lists;
}

CatalogueLists buildCatalogueLists(std::string_view bytes, bool withAuthors) {
    if (auto lists = readPlainFeed(bytes, withAuthors)) return std::move(*lists);
    return buildCatalogueListsFromDocument(bytes, withAuthors);
}
