#include "feeds/CatalogueLists.h"

#include "xml/CXMLDocument.h"
#include "xml/CXMLElement.h"

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

// The direct `author` children of every `item` that have no namespace; an item may give none or
// several. A podcast feed's `itunes:author` beside each plain `author` would otherwise double
// the list and shift every name after the first onto the wrong programme.
std::vector<std::string> authorsOf(const CXMLDocument& document) {
    std::vector<std::string> authors;
    for (CXMLNode* item : document.nodesForXPath("//item")) {
        const std::size_t count = item->childCount();
        for (std::size_t index = 0; index < count; ++index) {
            CXMLNode* child = item->childAtIndex(index);
            if (child && child->name() == "author" && !child->libXMLNode()->ns) {
                append(authors, child->stringValue());
            }
        }
    }
    return authors;
}

}  // namespace

CatalogueLists buildCatalogueLists(std::string_view bytes, bool withAuthors) {
    CatalogueLists lists;
    const std::unique_ptr<CXMLDocument> document =
        CXMLDocument::initWithData(bytes, kFeedParseOptions);
    if (!document) return lists;
    lists.titls = titlesOf(*document);
    lists.urls = urlsOf(*document);
    if (withAuthors) lists.artists = authorsOf(*document);
    return lists;
}
