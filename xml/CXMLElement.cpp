#include "xml/CXMLElement.h"

#include "platform/Log.h"
#include "xml/LibXMLPrivateField.h"

#include <array>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 10> kVoidElementNames = {
    "br", "area", "link", "img", "param", "hr", "input", "col", "base", "meta"};

}  // namespace

xmlAttr* CXMLElement::firstAttribute() const {
    xmlNode* node = requireNode();
    // Only an element node has a `properties` member.
    return node->type == XML_ELEMENT_NODE ? node->properties : nullptr;
}

std::vector<CXMLNode*> CXMLElement::elementsForName(const std::string& name) const {
    std::vector<CXMLNode*> result;
    for (xmlNode* child = requireNode()->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrcmp(child->name, BAD_CAST name.c_str()) == 0) {
            result.push_back(nodeWithLibXMLNode(child));
        }
    }
    return result;
}

std::vector<CXMLNode*> CXMLElement::attributes() const {
    std::vector<CXMLNode*> result;
    for (xmlAttr* attribute = firstAttribute(); attribute != nullptr; attribute = attribute->next) {
        result.push_back(nodeWithLibXMLNode(asNode(attribute)));
    }
    return result;
}

CXMLNode* CXMLElement::attributeForName(const std::string& name) const {
    for (xmlAttr* attribute = firstAttribute(); attribute != nullptr; attribute = attribute->next) {
        if (xmlStrcmp(attribute->name, BAD_CAST name.c_str()) == 0) {
            return nodeWithLibXMLNode(asNode(attribute));
        }
    }
    return nullptr;
}

// Recursive through the children's printers; libxml2 refuses documents nested deeper than 256
// levels (XML_PARSE_HUGE stays off), which bounds the recursion.
std::string& CXMLElement::_XMLStringWithOptions(unsigned options, std::string& string) const {
    const std::string elementName = name().value_or("");
    string += '<';
    string += elementName;
    for (CXMLNode* attribute : attributes()) attribute->_XMLStringWithOptions(options, string);

    if (childCount() == 0) {
        for (std::string_view voidName : kVoidElementNames) {
            if (elementName == voidName) {
                platform::log(std::string(voidName));
                string += "/>";
                return string;
            }
        }
    }

    string += '>';
    for (CXMLNode* child : children()) child->_XMLStringWithOptions(options, string);
    string += "</";
    string += elementName;
    string += '>';
    return string;
}
