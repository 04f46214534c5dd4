#pragma once
// A parsed libxml2 document and the pool of node wrappers it hands out.
//
// Ownership: the CXMLDocument owns the libxml2 tree and its nodePool; the pool owns every
// wrapper made for a node of the tree. On destruction the pool goes first, so that each wrapper
// detaches from its node while the tree still exists, then the tree is freed.
//
// Threads: one thread at a time per document (each feed parse makes its own document on the
// thread that runs it). Call initXMLParser() on the main thread before the first parse.

#include "xml/CXMLElement.h"
#include "xml/CXMLNode.h"
#include "xml/LibXMLHandles.h"
#include "xml/XMLParserSetup.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Options bit of initWithXMLString that selects the HTML parser; no other bit is read.
inline constexpr unsigned CXMLDocumentHTMLOption = 0x200;

using CXMLNodePool = std::vector<std::unique_ptr<CXMLNode>>;

class CXMLDocument : public CXMLNode {
public:
    // Each factory returns the document, or nullptr when none could be made. On a parse that
    // yields no document, `*error` (when given) is {"CXMLErrorDomain", 1, no user information}.
    // A document whose entity references would expand beyond xmlguard's budget counts as one
    // that did not parse.

    // Parses `xmlString` (UTF-8, read up to its first NUL) as XML, or as HTML with diagnostics
    // silenced when `options` has CXMLDocumentHTMLOption. Sets `*error` to absent first. An
    // HTML parser context that cannot be made (an empty string) gives nullptr and no error.
    static std::unique_ptr<CXMLDocument> initWithXMLString(const std::string& xmlString,
                                                           unsigned options,
                                                           CXMLErrorOut error = nullptr);
    // Parses the bytes as XML whatever the options. Empty or absent bytes are a parse failure.
    // `*error` is left untouched on success.
    static std::unique_ptr<CXMLDocument> initWithData(std::string_view data, unsigned options,
                                                      CXMLErrorOut error = nullptr);
    // Loads the URL's whole body (platform::loadURL, so with its timeouts and size cap), then
    // behaves as initWithData. A failed load reports the loader's error
    // {"URLLoaderErrorDomain", HTTP status or 0, {"description": reason}}. Blocks the caller.
    static std::unique_ptr<CXMLDocument> initWithContentsOfURL(const std::string& url,
                                                               unsigned options,
                                                               CXMLErrorOut error = nullptr);

    // Teardown: the pool, then the libxml2 tree.
    ~CXMLDocument() override;

    // The wrapper of the root element; nullptr when the document has none.
    CXMLElement* rootElement() const;

    // "<CXMLDocument 0x... [0x...]> " followed by libxml2's indented dump of the whole document.
    std::string description() const override;
    // The root element's markup only: no declaration, nothing outside the root element.
    std::string XMLStringWithOptions(unsigned options) const override;

    // -- CXMLDocument_PrivateExtensions --

    // Every wrapper made for a node of this document; created empty on first use.
    CXMLNodePool& nodePool();

protected:
    const char* className() const override { return "CXMLDocument"; }

private:
    // Attaches `doc`: `_node` becomes the document and its `_private` this object.
    explicit CXMLDocument(xmlhandles::DocPtr doc);

    std::unique_ptr<CXMLNodePool> nodePool_;
    xmlhandles::DocPtr doc_;
};
