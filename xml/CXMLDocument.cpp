#include "xml/CXMLDocument.h"

#include "platform/http/URLLoader.h"
#include "xml/EntityExpansionGuard.h"
#include "xml/LibXMLPrivateField.h"

#include <libxml/xmlerror.h>

#include <climits>
#include <cstdio>

namespace {

// The HTML parser's diagnostics are of no use to anyone reading feeds: discard them.
void htmlparser_error(void* /*context*/, const char* /*message*/, ...) {}
void htmlparser_warning(void* /*context*/, const char* /*message*/, ...) {}
void htmlparser_structured(void* /*context*/, xmlError* /*error*/) {}

// A structured handler installed for the thread (a test's capture, say) would still receive
// every HTML diagnostic: libxml2 prefers it over the context's callbacks. Libxml2 keeps it per
// thread, so swapping it for the length of one parse touches no other thread.
class SilenceStructuredErrors {
public:
    SilenceStructuredErrors()
        : savedHandler_(xmlStructuredError), savedContext_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, htmlparser_structured);
    }
    ~SilenceStructuredErrors() { xmlSetStructuredErrorFunc(savedContext_, savedHandler_); }
    SilenceStructuredErrors(const SilenceStructuredErrors&) = delete;
    SilenceStructuredErrors& operator=(const SilenceStructuredErrors&) = delete;

private:
    xmlStructuredErrorFunc savedHandler_;
    void* savedContext_;
};

struct HTMLParse {
    bool contextMade = false;
    xmlhandles::DocPtr doc;
};

HTMLParse parseHTML(const std::string& text) {
    HTMLParse parse;
    const xmlChar* bytes = BAD_CAST text.c_str();
    xmlhandles::HTMLParserCtxtPtr context(
        htmlCreateMemoryParserCtxt(reinterpret_cast<const char*>(bytes), xmlStrlen(bytes)));
    if (!context) return parse;
    parse.contextMade = true;
    context->vctxt.error = htmlparser_error;
    context->vctxt.warning = htmlparser_warning;
    if (context->sax != nullptr) {
        context->sax->error = htmlparser_error;
        context->sax->warning = htmlparser_warning;
    }
    {
        SilenceStructuredErrors silence;
        htmlParseDocument(context.get());
    }
    parse.doc.reset(context->myDoc);
    context->myDoc = nullptr;
    return parse;
}

// Through the push parser, a block at a time (see parseInBlocks): a 2.6 MB feed read with
// xmlReadMemory would hold 4 MB more while its tree is built.
xmlhandles::DocPtr readInBlocks(std::string_view data) {
    xmlhandles::ParserCtxtPtr context(
        xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr));
    if (!context) return nullptr;
    xmlCtxtUseOptions(context.get(), kCXMLParseOptions);
    const bool wellFormed = parseInBlocks(context.get(), data);
    xmlhandles::DocPtr doc(context->myDoc);
    context->myDoc = nullptr;
    if (!wellFormed) doc.reset();
    return doc;
}

// Refuses a document whose entities could blow a string value up (see EntityExpansionGuard).
xmlhandles::DocPtr guarded(xmlhandles::DocPtr doc) {
    if (doc && !xmlguard::entityExpansionWithinBudget(doc.get())) doc.reset();
    return doc;
}

void reportParseFailure(CXMLErrorOut error) {
    if (error != nullptr) *error = CXMLError{kCXMLErrorDomain, kCXMLErrorParseFailed, {}};
}

}  // namespace

CXMLDocument::CXMLDocument(xmlhandles::DocPtr doc)
    : CXMLNode(asNode(doc.get())), doc_(std::move(doc)) {
    setWrapper(_node, this);
}

CXMLDocument::~CXMLDocument() {
    // Wrappers detach from their nodes while the tree still exists.
    nodePool_.reset();
    setWrapper(_node, nullptr);
    doc_.reset();
    _node = nullptr;
}

std::unique_ptr<CXMLDocument> CXMLDocument::initWithXMLString(const std::string& xmlString,
                                                              unsigned options,
                                                              CXMLErrorOut error) {
    initXMLParser();
    if (error != nullptr) *error = std::nullopt;

    xmlhandles::DocPtr doc;
    if (options & CXMLDocumentHTMLOption) {
        HTMLParse parse = parseHTML(xmlString);
        if (!parse.contextMade) return nullptr;
        doc = std::move(parse.doc);
    } else {
        doc.reset(xmlReadDoc(BAD_CAST xmlString.c_str(), nullptr, nullptr, kCXMLParseOptions));
    }
    doc = guarded(std::move(doc));
    if (!doc) {
        reportParseFailure(error);
        return nullptr;
    }
    if (doc->_private != nullptr) throw CXMLInternalInconsistencyException::todo();
    return std::unique_ptr<CXMLDocument>(new CXMLDocument(std::move(doc)));
}

std::unique_ptr<CXMLDocument> CXMLDocument::initWithData(std::string_view data,
                                                         unsigned /*options*/, CXMLErrorOut error) {
    initXMLParser();
    xmlhandles::DocPtr doc;
    // libxml2 takes an int length: a larger buffer is refused rather than cut short.
    if (!data.empty() && data.size() <= static_cast<std::size_t>(INT_MAX)) {
        doc = readInBlocks(data);
    }
    doc = guarded(std::move(doc));
    if (!doc) {
        reportParseFailure(error);
        return nullptr;
    }
    return std::unique_ptr<CXMLDocument>(new CXMLDocument(std::move(doc)));
}

std::unique_ptr<CXMLDocument> CXMLDocument::initWithContentsOfURL(const std::string& url,
                                                                  unsigned options,
                                                                  CXMLErrorOut error) {
    if (error != nullptr) *error = std::nullopt;
    platform::LoadResult load = platform::loadURL(url);
    if (!load.ok) {
        if (error != nullptr) {
            *error =
                CXMLError{kCXMLURLLoadErrorDomain, load.httpStatus, {{"description", load.error}}};
        }
        return nullptr;
    }
    return initWithData(load.bytes, options, error);
}

CXMLElement* CXMLDocument::rootElement() const {
    xmlDoc* doc = reinterpret_cast<xmlDoc*>(requireNode());
    return dynamic_cast<CXMLElement*>(nodeWithLibXMLNode(xmlDocGetRootElement(doc)));
}

std::string CXMLDocument::description() const {
    xmlDoc* doc = reinterpret_cast<xmlDoc*>(requireNode());
    char head[160];
    std::snprintf(head, sizeof head, "<%s %p [%p]> ", className(), static_cast<const void*>(this),
                  static_cast<const void*>(doc));
    xmlChar* dump = nullptr;
    int size = 0;
    xmlDocDumpFormatMemory(doc, &dump, &size, 1);
    xmlhandles::BufferPtr owned(dump);
    std::string text(head);
    if (owned && size > 0) text.append(reinterpret_cast<const char*>(owned.get()), size);
    return text;
}

std::string CXMLDocument::XMLStringWithOptions(unsigned options) const {
    std::string string;
    if (CXMLElement* root = rootElement()) root->_XMLStringWithOptions(options, string);
    return string;
}
