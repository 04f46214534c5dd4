#pragma once
// The wrapper of an element node (kind 1): element and attribute lookup, and the element's
// markup printer.

#include "xml/CXMLNode.h"

#include <string>
#include <vector>

class CXMLElement : public CXMLNode {
public:
    using CXMLNode::CXMLNode;

    // Element children whose name equals `name` byte for byte, in order; namespaces are ignored.
    std::vector<CXMLNode*> elementsForName(const std::string& name) const;
    // Every attribute, in order, as kind-2 wrappers.
    std::vector<CXMLNode*> attributes() const;
    // The first attribute named `name`, or nullptr.
    CXMLNode* attributeForName(const std::string& name) const;

    // Writes `<name attributes>children</name>`; a childless element named like an HTML void
    // element (br, area, link, img, param, hr, input, col, base, meta) is written as
    // `<name attributes/>` and its name goes to the log.
    std::string& _XMLStringWithOptions(unsigned options, std::string& string) const override;

protected:
    const char* className() const override { return "CXMLElement"; }

private:
    // The element's attribute list; empty for a wrapper built directly around a non-element.
    xmlAttr* firstAttribute() const;
};
