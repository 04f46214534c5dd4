#pragma once
// Owning types for the libxml2 handles the model creates, so that every path (including an
// exception thrown half-way) frees them exactly once.

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlmemory.h>
#include <libxml/xpath.h>

#include <memory>

namespace xmlhandles {

struct DocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;

// A buffer that libxml2 allocated for the caller (dumps, node content copies).
struct BufferDeleter {
    void operator()(xmlChar* buffer) const { xmlFree(buffer); }
};
using BufferPtr = std::unique_ptr<xmlChar, BufferDeleter>;

// Frees the context only; the document it produced (myDoc) is taken out beforehand.
struct HTMLParserCtxtDeleter {
    void operator()(htmlParserCtxt* context) const { htmlFreeParserCtxt(context); }
};
using HTMLParserCtxtPtr = std::unique_ptr<htmlParserCtxt, HTMLParserCtxtDeleter>;

struct ParserCtxtDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
using ParserCtxtPtr = std::unique_ptr<xmlParserCtxt, ParserCtxtDeleter>;

struct XPathContextDeleter {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextDeleter>;

struct XPathObjectDeleter {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectDeleter>;

}  // namespace xmlhandles
