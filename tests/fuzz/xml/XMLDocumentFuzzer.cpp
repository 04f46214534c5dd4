// Feeds arbitrary bytes to the XML and the HTML parse, then uses every document the way a feed
// and a debugger would: queries, a walk over the tree, string values, printing.
//
//   build-fuzz-xml/tests/fuzz/xml/xml_document_fuzzer -dict=tests/fuzz/xml/xml.dict \
//       corpus-dir tests/fuzz/xml/seeds

#include "platform/Log.h"
#include "xml/CXMLDocument.h"

#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace {

// Bounds the work per input so that a wide or deep document does not stall the fuzzer on
// quadratic walks (index() and level() walk sibling and ancestor chains).
constexpr std::size_t kMaxVisitedNodes = 2000;

void silentGeneric(void*, const char*, ...) {}
void silentStructured(void*, xmlError*) {}

void check(bool holds) {
    if (!holds) __builtin_trap();
}

// Fails the run when a model failure escapes as anything but the model's own exception.
template <typename Call>
void guarded(Call call) {
    try {
        call();
    } catch (const CXMLInternalInconsistencyException&) {
    }
}

void visit(CXMLDocument& document, CXMLNode* node, std::deque<CXMLNode*>& pending) {
    const int kind = node->kind();
    node->name();
    auto value = node->stringValue();
    if (kind == XML_TEXT_NODE) check(value.has_value());
    node->index();
    node->level();
    check(node->rootDocument() == &document);
    const std::size_t count = node->childCount();
    check(node->childAtIndex(count) == nullptr);
    guarded([&] { node->previousSibling(); });
    guarded([&] { node->nextSibling(); });
    if (auto* element = dynamic_cast<CXMLElement*>(node)) {
        guarded([&] {
            for (CXMLNode* attribute : element->attributes()) {
                check(attribute->kind() == XML_ATTRIBUTE_NODE);
                check(attribute->parent() == element);
                attribute->stringValue();
            }
        });
        guarded([&] { element->attributeForName("url"); });
        guarded([&] { element->elementsForName("title"); });
    }
    guarded([&] {
        std::vector<CXMLNode*> children = node->children();
        check(children.size() == count);
        for (std::size_t i = 0; i < children.size(); ++i) {
            // One wrapper per node, whichever way it is reached.
            check(node->childAtIndex(i) == children[i]);
            check(children[i]->parent() == node);
            pending.push_back(children[i]);
        }
    });
}

void exercise(CXMLDocument& document) {
    for (const char* query :
         {"//*", "//title", "//enclosure/@url", "//item/author", "//string", "//text()",
          "count(//*)", "/", "//@*", "//comment()", "//*[contains(., 'a')]",
          "//processing-instruction()", "//namespace::*"}) {
        guarded([&] {
            const auto first = document.nodesForXPath(query);
            check(document.nodesForXPath(query) == first);
        });
    }

    std::deque<CXMLNode*> pending{&document};
    std::size_t visited = 0;
    while (!pending.empty() && visited++ < kMaxVisitedNodes) {
        CXMLNode* node = pending.front();
        pending.pop_front();
        guarded([&] { visit(document, node, pending); });
    }

    guarded([&] { document.XMLString(); });
    guarded([&] { document.description(); });
    guarded([&] {
        if (CXMLElement* root = document.rootElement()) root->description();
    });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initXMLParser();
    // The fuzzer's output is for its own reports; the parsers' diagnostics would drown them.
    xmlSetGenericErrorFunc(nullptr, silentGeneric);
    xmlSetStructuredErrorFunc(nullptr, silentStructured);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::LogCapture log;  // void elements are logged when printed
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    if (auto document = CXMLDocument::initWithData(bytes, 0)) exercise(*document);
    if (auto document = CXMLDocument::initWithXMLString(bytes, 0)) exercise(*document);
    if (auto document = CXMLDocument::initWithXMLString(bytes, CXMLDocumentHTMLOption)) {
        exercise(*document);
    }
    return 0;
}
