#include "xml/CXMLNode.h"

#include "xml/CXMLDocument.h"
#include "xml/LibXMLPrivateField.h"

#include <libxml/entities.h>

#include <cstdio>

namespace {

// Entities nest at most 40 deep by libxml2's own parse limit, and the document factories
// refuse anything the expansion guard finds cyclic; this only keeps the recursion finite.
constexpr int kMaxEntityNesting = 64;

// Appends what xmlNodeListGetString(doc, list, 1) would return: the text and CDATA of the
// list, with entity references replaced by the string of their entity's content. Returns
// whether anything (even empty text) was found, which is what tells an empty value from an
// absent one. Built here rather than by libxml2 because xmlStrcat rescans the whole result for
// every piece: an element of a million small pieces costs seconds there, milliseconds here.
bool appendListString(xmlDoc* doc, const xmlNode* list, std::string& out, int nesting) {
    bool found = false;
    for (const xmlNode* node = list; node != nullptr; node = node->next) {
        switch (node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (node->content != nullptr) {
                    out += reinterpret_cast<const char*>(node->content);
                    found = true;
                }
                break;
            case XML_ENTITY_REF_NODE:
                if (xmlEntity* entity = xmlGetDocEntity(doc, node->name)) {
                    if (nesting < kMaxEntityNesting &&
                        appendListString(doc, entity->children, out, nesting + 1)) {
                        found = true;
                    }
                } else if (node->content != nullptr) {
                    out += reinterpret_cast<const char*>(node->content);
                    found = true;
                }
                break;
            default: break;  // child elements, comments and the rest contribute nothing
        }
    }
    return found;
}

}  // namespace

std::optional<std::string> CXMLStringFromXMLChar(const xmlChar* text) {
    if (text == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(text));
}

CXMLNode::~CXMLNode() {
    if (_node != nullptr && wrapperOf(_node) == this) setWrapper(_node, nullptr);
    _node = nullptr;
}

xmlNode* CXMLNode::requireNode() const {
    if (_node == nullptr) throw CXMLInternalInconsistencyException::todo();
    return _node;
}

int CXMLNode::kind() const { return requireNode()->type; }

std::optional<std::string> CXMLNode::name() const {
    return CXMLStringFromXMLChar(requireNode()->name);
}

std::optional<std::string> CXMLNode::stringValue() const {
    xmlNode* node = requireNode();
    // An attribute's (and a document's) struct has no `content` member: only text nodes read it.
    if (node->type == XML_TEXT_NODE) return CXMLStringFromXMLChar(node->content);
    std::string value;
    if (!appendListString(node->doc, node->children, value, 0)) return std::nullopt;
    return value;
}

std::size_t CXMLNode::index() const {
    std::size_t count = 0;
    for (const xmlNode* sibling = requireNode()->prev; sibling != nullptr;
         sibling = sibling->prev) {
        ++count;
    }
    return count;
}

std::size_t CXMLNode::level() const {
    std::size_t count = 0;
    for (const xmlNode* ancestor = requireNode()->parent; ancestor != nullptr;
         ancestor = ancestor->parent) {
        ++count;
    }
    return count;
}

CXMLDocument* CXMLNode::rootDocument() const {
    xmlDoc* doc = requireNode()->doc;
    if (doc == nullptr) return nullptr;
    return dynamic_cast<CXMLDocument*>(wrapperOf(asNode(doc)));
}

CXMLNode* CXMLNode::parent() const {
    const xmlNode* up = requireNode()->parent;
    return up ? wrapperOf(up) : nullptr;
}

std::size_t CXMLNode::childCount() const {
    std::size_t count = 0;
    for (const xmlNode* child = requireNode()->children; child != nullptr; child = child->next) {
        ++count;
    }
    return count;
}

std::vector<CXMLNode*> CXMLNode::children() const {
    std::vector<CXMLNode*> result;
    for (xmlNode* child = requireNode()->children; child != nullptr; child = child->next) {
        result.push_back(nodeWithLibXMLNode(child));
    }
    return result;
}

CXMLNode* CXMLNode::childAtIndex(std::size_t index) const {
    xmlNode* child = requireNode()->children;
    for (std::size_t i = 0; child != nullptr && i < index; ++i) child = child->next;
    return child ? nodeWithLibXMLNode(child) : nullptr;
}

CXMLNode* CXMLNode::previousSibling() const {
    xmlNode* sibling = requireNode()->prev;
    return sibling ? nodeWithLibXMLNode(sibling) : nullptr;
}

CXMLNode* CXMLNode::nextSibling() const {
    xmlNode* sibling = requireNode()->next;
    return sibling ? nodeWithLibXMLNode(sibling) : nullptr;
}

std::string CXMLNode::description() const {
    xmlNode* node = requireNode();
    char head[160];
    std::snprintf(head, sizeof head, "<%s %p [%p] ", className(), static_cast<const void*>(this),
                  static_cast<const void*>(node));
    return head + name().value_or("(null)") + " " + XMLStringWithOptions(0) + ">";
}

std::string CXMLNode::XMLString() const { return XMLStringWithOptions(0); }

std::string CXMLNode::XMLStringWithOptions(unsigned options) const {
    std::string string;
    _XMLStringWithOptions(options, string);
    return string;
}

std::string& CXMLNode::_XMLStringWithOptions(unsigned /*options*/, std::string& string) const {
    const int nodeKind = kind();
    switch (nodeKind) {
        case XML_ATTRIBUTE_NODE: {
            // An attribute without a value (HTML's `<input checked>`) prints as empty quotes: the
            // printer needs something to quote, and `checked=""` means the same to an HTML reader
            // while staying well-formed for an XML one.
            const std::string value = stringValue().value_or("");
            string += ' ';
            string += name().value_or("");
            string += "=\"";
            for (char c : value) {
                if (c == '"') {
                    string += "&quot;";
                } else {
                    string += c;
                }
            }
            string += '"';
            break;
        }
        case XML_TEXT_NODE:
            // Written exactly as it is: this markup serves debugging, not round trips.
            string += stringValue().value_or("");
            break;
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE: break;
        default: throw CXMLInternalInconsistencyException::notImplementedType(nodeKind);
    }
    return string;
}
