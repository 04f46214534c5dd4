// XPath queries on a node: libxml2 evaluates, the model wraps the resulting nodes.

#include "xml/CXMLNode.h"
#include "xml/LibXMLHandles.h"

#include <libxml/xpathInternals.h>

namespace {

// Evaluates `xpath` with `node` as the context node. Each query makes and frees its own
// context, so queries on one document never share state. Any failure of libxml2 (no context,
// an expression it cannot compile or evaluate) and any value that is not a node set end in an
// empty array; nothing is reported.
std::vector<CXMLNode*> evaluate(xmlNode* node, const std::string& xpath,
                                const std::map<std::string, std::string>* namespaceMappings) {
    xmlhandles::XPathContextPtr context(xmlXPathNewContext(node->doc));
    if (!context) return {};
    context->node = node;
    if (namespaceMappings != nullptr) {
        for (const auto& [prefix, uri] : *namespaceMappings) {
            // A prefix libxml2 refuses simply stays unbound; the expression then fails.
            xmlXPathRegisterNs(context.get(), BAD_CAST prefix.c_str(), BAD_CAST uri.c_str());
        }
    }
    xmlhandles::XPathObjectPtr result(
        xmlXPathEvalExpression(BAD_CAST xpath.c_str(), context.get()));

    std::vector<CXMLNode*> nodes;
    if (result && result->type == XPATH_NODESET && result->nodesetval != nullptr &&
        result->nodesetval->nodeNr > 0) {
        const xmlNodeSet* set = result->nodesetval;
        nodes.reserve(static_cast<std::size_t>(set->nodeNr));
        // May throw for a node the model cannot wrap; the handles above still free everything.
        for (int i = 0; i < set->nodeNr; ++i) {
            nodes.push_back(CXMLNode::nodeWithLibXMLNode(set->nodeTab[i]));
        }
    }
    return nodes;
}

}  // namespace

std::vector<CXMLNode*> CXMLNode::nodesForXPath(const std::string& xpath,
                                               CXMLErrorOut /*error*/) const {
    return evaluate(requireNode(), xpath, nullptr);
}

std::vector<CXMLNode*> CXMLNode::nodesForXPath(
    const std::string& xpath, const std::map<std::string, std::string>& namespaceMappings,
    CXMLErrorOut /*error*/) const {
    return evaluate(requireNode(), xpath, &namespaceMappings);
}
