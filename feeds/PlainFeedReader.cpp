#include "feeds/PlainFeedReader.h"

#include "xml/LibXMLHandles.h"
#include "xml/XMLParserSetup.h"

#include <libxml/parserInternals.h>

#include <climits>
#include <cstring>

namespace {

// Far above any feed's; the bound keeps the depth counters meaningful without a stack.
constexpr int kMaxDepth = 200;
// The tree builder refuses a text node over 10 MB; a feed's title or author is never near this.
constexpr std::size_t kMaxText = 1024 * 1024;

bool named(const xmlChar* localname, const char* name) {
    return std::strcmp(reinterpret_cast<const char*>(localname), name) == 0;
}

// One pass over a feed. Depths count from 1 for the root element; 0 means "not inside one".
// Titles and items never nest here (they decline), so one depth each is the whole state.
class Reader {
public:
    explicit Reader(bool withAuthors) : withAuthors_(withAuthors) {}

    std::optional<CatalogueLists> read(std::string_view bytes) {
        xmlSAXHandler handler = makeHandler();
        xmlhandles::ParserCtxtPtr context(
            xmlCreatePushParserCtxt(&handler, this, nullptr, 0, nullptr));
        if (!context) return std::nullopt;
        xmlCtxtUseOptions(context.get(), kCXMLParseOptions);
        context_ = context.get();
        const bool wellFormed = parseInBlocks(context_, bytes);
        if (!wellFormed || declined_ || depth_ != 0) return std::nullopt;
        return std::move(lists_);
    }

private:
    static Reader& self(void* userData) { return *static_cast<Reader*>(userData); }

    static xmlSAXHandler makeHandler() {
        xmlSAXHandler handler;
        std::memset(&handler, 0, sizeof handler);
        handler.initialized = XML_SAX2_MAGIC;
        handler.startElementNs = [](void* user, const xmlChar* localname, const xmlChar* prefix,
                                    const xmlChar* uri, int, const xmlChar**, int attributeCount,
                                    int, const xmlChar** attributes) {
            self(user).startElement(localname, prefix, uri, attributeCount, attributes);
        };
        handler.endElementNs = [](void* user, const xmlChar*, const xmlChar*, const xmlChar*) {
            self(user).endElement();
        };
        // The same function for both, as the tree builder has them: the parser then never
        // tells whitespace apart, and a title's blank text is a child like any other.
        handler.characters = [](void* user, const xmlChar* text, int length) {
            self(user).text(text, length);
        };
        handler.ignorableWhitespace = handler.characters;
        handler.cdataBlock = [](void* user, const xmlChar* text, int length) {
            self(user).cdata(text, length);
        };
        handler.comment = [](void* user, const xmlChar*) { self(user).comment(); };
        handler.processingInstruction = [](void* user, const xmlChar*, const xmlChar*) {
            self(user).processingInstruction();
        };
        // A DTD may declare entities and default attributes; the document model knows them.
        handler.internalSubset = [](void* user, const xmlChar*, const xmlChar*, const xmlChar*) {
            self(user).decline();
        };
        handler.externalSubset = handler.internalSubset;
        // Asked for every entity but the five predefined ones, which arrive as text.
        handler.getEntity = [](void* user, const xmlChar*) -> xmlEntityPtr {
            self(user).decline();
            return nullptr;
        };
        handler.getParameterEntity = handler.getEntity;
        handler.reference = [](void* user, const xmlChar*) { self(user).decline(); };
        handler.serror = [](void*, xmlError*) {};
        return handler;
    }

    // Whether the event at hand is directly inside the element open at `elementDepth` (or is
    // that element's own end tag); never when no such element is open.
    bool directlyIn(int elementDepth) const { return elementDepth != 0 && depth_ == elementDepth; }

    void decline() {
        if (declined_) return;
        declined_ = true;
        xmlStopParser(context_);
    }

    void startElement(const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                      int attributeCount, const xmlChar** attributes) {
        if (declined_) return;
        if (++depth_ > kMaxDepth || (prefix != nullptr && uri == nullptr)) return decline();
        for (int index = 0; index < attributeCount; ++index) {
            const xmlChar** attribute = attributes + 5 * index;
            if (attribute[1] != nullptr && attribute[2] == nullptr) return decline();
        }
        if (titleDepth_ != 0 && depth_ == titleDepth_ + 1) {
            flushTitleText();
            titleChildDepth_ = depth_;
            titleChild_.clear();
            titleChildHasText_ = false;
        }
        if (uri != nullptr) return;
        if (named(localname, "title")) {
            if (titleDepth_ != 0) return decline();
            titleDepth_ = depth_;
            titleText_.clear();
            titleHasText_ = false;
        } else if (named(localname, "enclosure")) {
            enclosure(attributeCount, attributes);
        } else if (named(localname, "item")) {
            if (itemDepth_ != 0) return decline();
            itemDepth_ = depth_;
        } else if (named(localname, "author") && withAuthors_ && itemDepth_ != 0 &&
                   depth_ == itemDepth_ + 1) {
            authorDepth_ = depth_;
            author_.clear();
            authorHasText_ = false;
        }
    }

    // The first attribute whose local name is `url`, whatever its namespace, as the model's
    // attribute lookup finds it.
    void enclosure(int attributeCount, const xmlChar** attributes) {
        for (int index = 0; index < attributeCount; ++index) {
            const xmlChar** attribute = attributes + 5 * index;
            if (!named(attribute[0], "url")) continue;
            const auto* begin = reinterpret_cast<const char*>(attribute[3]);
            const auto* end = reinterpret_cast<const char*>(attribute[4]);
            const std::string_view url(begin, static_cast<std::size_t>(end - begin));
            // A reference in an attribute becomes its own node in the tree; leave that to it.
            if (url.empty() || url.find('&') != std::string_view::npos) return decline();
            lists_.urls.emplace_back(url);
            return;
        }
        decline();  // the model throws for an enclosure without a url
    }

    void endElement() {
        if (declined_) return;
        if (directlyIn(authorDepth_)) {
            if (!authorHasText_) return decline();
            lists_.artists.push_back(std::move(author_));
            authorDepth_ = 0;
        }
        if (directlyIn(titleChildDepth_)) {
            if (!titleChildHasText_) return decline();
            lists_.titls.push_back(std::move(titleChild_));
            titleChildDepth_ = 0;
        }
        if (directlyIn(titleDepth_)) {
            flushTitleText();
            titleDepth_ = 0;
        }
        if (directlyIn(itemDepth_)) itemDepth_ = 0;
        --depth_;
    }

    // Text directly in a title is one child per run between its child elements; text directly
    // in a title's child or an author is that element's value, all runs together.
    void text(const xmlChar* characters, int length) {
        if (declined_) return;
        if (directlyIn(titleDepth_)) append(titleText_, titleHasText_, characters, length);
        addToValues(characters, length);
    }

    void cdata(const xmlChar* characters, int length) {
        if (declined_) return;
        if (directlyIn(titleDepth_)) return decline();  // a CDATA child of a title has no value
        addToValues(characters, length);
    }

    void comment() {
        if (!declined_ && directlyIn(titleDepth_)) decline();  // as a title's child it has no value
    }

    void processingInstruction() {
        if (declined_) return;
        if (directlyIn(titleDepth_) || (withAuthors_ && directlyIn(itemDepth_))) decline();
    }

    void addToValues(const xmlChar* characters, int length) {
        if (directlyIn(titleChildDepth_)) {
            append(titleChild_, titleChildHasText_, characters, length);
        }
        if (directlyIn(authorDepth_)) append(author_, authorHasText_, characters, length);
    }

    void append(std::string& value, bool& hasText, const xmlChar* characters, int length) {
        if (value.size() + static_cast<std::size_t>(length) > kMaxText) return decline();
        value.append(reinterpret_cast<const char*>(characters), static_cast<std::size_t>(length));
        hasText = true;
    }

    void flushTitleText() {
        if (!titleHasText_) return;
        lists_.titls.push_back(std::move(titleText_));
        titleText_.clear();
        titleHasText_ = false;
    }

    const bool withAuthors_;
    xmlParserCtxt* context_ = nullptr;
    bool declined_ = false;
    CatalogueLists lists_;

    int depth_ = 0;
    int titleDepth_ = 0;
    int titleChildDepth_ = 0;
    int itemDepth_ = 0;
    int authorDepth_ = 0;

    std::string titleText_;
    bool titleHasText_ = false;
    std::string titleChild_;
    bool titleChildHasText_ = false;
    std::string author_;
    bool authorHasText_ = false;
};

}  // namespace

std::optional<CatalogueLists> readPlainFeed(std::string_view bytes, bool withAuthors) {
    // libxml2 takes an int length; the document model refuses the same inputs.
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    initXMLParser();
    return Reader(withAuthors).read(bytes);
}
