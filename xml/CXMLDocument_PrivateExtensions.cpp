// The document's pool of node wrappers.

#include "xml/CXMLDocument.h"

CXMLNodePool& CXMLDocument::nodePool() {
    if (!nodePool_) nodePool_ = std::make_unique<CXMLNodePool>();
    return *nodePool_;
}
