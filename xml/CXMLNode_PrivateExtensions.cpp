// The wrapper factory: one wrapper per libxml2 node, kept alive by the document's nodePool.

#include "xml/CXMLDocument.h"
#include "xml/CXMLElement.h"
#include "xml/CXMLNode.h"
#include "xml/LibXMLPrivateField.h"

#include <memory>

namespace {

// The kinds that can carry a wrapper in `_private`. Anything else is refused before its
// `_private` is read: an XPath namespace node is an xmlNs, whose field at that place is a
// pointer to its element, not a wrapper.
bool mayHaveWrapper(int kind) {
    switch (kind) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE: return true;
        default: return false;
    }
}

}  // namespace

CXMLNode::CXMLNode(xmlNode* theLibXMLNode) : _node(theLibXMLNode) {}

CXMLNode* CXMLNode::nodeWithLibXMLNode(xmlNode* theLibXMLNode) {
    if (theLibXMLNode == nullptr) return nullptr;
    const int kind = theLibXMLNode->type;
    if (!mayHaveWrapper(kind)) throw CXMLInternalInconsistencyException::unhandledType(kind);

    // The same node always yields the same wrapper; a document yields its CXMLDocument.
    if (CXMLNode* existing = wrapperOf(theLibXMLNode)) return existing;

    std::unique_ptr<CXMLNode> wrapper;
    switch (kind) {
        case XML_ELEMENT_NODE: wrapper = std::make_unique<CXMLElement>(theLibXMLNode); break;
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE:
            // A document that no CXMLDocument owns cannot be wrapped.
            throw CXMLInternalInconsistencyException::unhandledType(kind);
        default: wrapper = std::make_unique<CXMLNode>(theLibXMLNode); break;
    }

    xmlDoc* doc = theLibXMLNode->doc;
    CXMLDocument* document = doc ? dynamic_cast<CXMLDocument*>(wrapperOf(asNode(doc))) : nullptr;
    if (document == nullptr) throw CXMLInternalInconsistencyException::todo();

    CXMLNode* result = wrapper.get();
    document->nodePool().push_back(std::move(wrapper));
    setWrapper(theLibXMLNode, result);
    return result;
}
