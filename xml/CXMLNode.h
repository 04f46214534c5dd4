#pragma once
// A wrapper around one libxml2 node, made on demand by its document.
//
// At most one wrapper exists per libxml2 node: while it exists, the node's `_private` field
// points to it (as a CXMLNode*), and the owning libxml2 document's `_private` points to its
// CXMLDocument. Every wrapper handed out belongs to the nodePool of its CXMLDocument and lives
// exactly as long as that document: callers get raw, non-owning pointers and must keep the
// document alive while they use them.
//
// Threads: a document and its wrappers are used by one thread at a time; nothing here locks.
//
// Failures of the model's own invariants (an accessor on a wrapper without a node, a node kind
// that has no wrapper class) throw CXMLInternalInconsistencyException.

#include "xml/CXMLError.h"
#include "xml/CXMLInternalInconsistencyException.h"

#include <libxml/tree.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CXMLDocument;

class CXMLNode {
public:
    // -- CXMLNode_PrivateExtensions --

    // initWithLibXMLNode: wraps `theLibXMLNode` without touching its `_private` field and
    // without registering anywhere. Only the factory below makes the wrappers callers see;
    // a wrapper built directly is owned by whoever built it.
    explicit CXMLNode(xmlNode* theLibXMLNode);

    // nodeWithLibXMLNode: the node's one wrapper, made and added to its document's nodePool on
    // first request. Documents yield their CXMLDocument. Returns nullptr for a null node.
    // Throws "TODO Unhandled type (%d)." for a kind without a wrapper class and "TODO" when the
    // node's document has no CXMLDocument.
    static CXMLNode* nodeWithLibXMLNode(xmlNode* theLibXMLNode);

    // The wrapped libxml2 node (the libxml2 document for a CXMLDocument); nullptr once torn
    // down. Valid only while the document lives.
    xmlNode* libXMLNode() const { return _node; }

    // -- CXMLNode --

    // Teardown: detaches from the node's `_private` field if it still points here.
    virtual ~CXMLNode();
    CXMLNode(const CXMLNode&) = delete;
    CXMLNode& operator=(const CXMLNode&) = delete;

    // Every accessor first requires a node; without one it throws "TODO".

    // libxml2's node type number (xmlElementType): 1 element, 2 attribute, 3 text, ...
    int kind() const;
    // The node's name; absent when libxml2 gives it none.
    std::optional<std::string> name() const;
    // Text nodes: their content. Any other node: its direct text and CDATA children joined,
    // entity references replaced by their text; absent when there is nothing to join.
    std::optional<std::string> stringValue() const;
    // Number of siblings before this node.
    std::size_t index() const;
    // Number of ancestors: 0 for the document, 1 for the root element.
    std::size_t level() const;
    // The CXMLDocument of the node's libxml2 document, or nullptr when it has none.
    CXMLDocument* rootDocument() const;
    // The parent's existing wrapper; nullptr when there is no parent or it was never wrapped.
    // Never makes a wrapper.
    CXMLNode* parent() const;
    // Length of the child list, every node type included (whitespace text, comments).
    std::size_t childCount() const;
    std::vector<CXMLNode*> children() const;
    // nullptr when index >= childCount().
    CXMLNode* childAtIndex(std::size_t index) const;
    CXMLNode* previousSibling() const;
    CXMLNode* nextSibling() const;

    // -- Serialisation --

    // Debugging text: "<Class 0x... [0x...] name markup>".
    virtual std::string description() const;
    std::string XMLString() const;
    // The options are passed down unchanged and never read.
    virtual std::string XMLStringWithOptions(unsigned options) const;
    // Appends this node's markup to `string` and returns it. Attributes print as
    // ` name="value"` with only double quotes escaped, text prints unescaped, comments and
    // CDATA print as nothing; any other kind throws "TODO not implemented type (%d).".
    virtual std::string& _XMLStringWithOptions(unsigned options, std::string& string) const;

    // -- CXMLNode_XPathExtensions --

    // Evaluates `xpath` (XPath 1.0) with this node as the context node: relative expressions
    // start here, absolute ones search the whole document. Returns the wrappers of the result
    // node set in order; an expression that fails, or whose value is not a node set, gives an
    // empty array. `error` is never written. Throws "TODO Unhandled type (%d)." when a result
    // node cannot be wrapped (a namespace node, a processing instruction, ...).
    std::vector<CXMLNode*> nodesForXPath(const std::string& xpath,
                                         CXMLErrorOut error = nullptr) const;
    // The same, with prefix -> namespace URI mappings registered first, in the map's order.
    std::vector<CXMLNode*> nodesForXPath(
        const std::string& xpath, const std::map<std::string, std::string>& namespaceMappings,
        CXMLErrorOut error = nullptr) const;

protected:
    // The class name written by description().
    virtual const char* className() const { return "CXMLNode"; }
    // The node, or "TODO" when there is none.
    xmlNode* requireNode() const;

    // Non-owning; valid while the document lives. Cleared on teardown.
    xmlNode* _node;
};

// Converts libxml2's UTF-8 text into a string handed out by the model; absent for null.
std::optional<std::string> CXMLStringFromXMLChar(const xmlChar* text);
