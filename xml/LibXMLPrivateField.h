#pragma once
// The model's use of libxml2's `_private` field: on a node (or attribute, or document) that
// has a wrapper it holds that wrapper as a CXMLNode*, and nothing else is ever stored there.

#include <libxml/tree.h>

class CXMLNode;

inline CXMLNode* wrapperOf(const xmlNode* node) { return static_cast<CXMLNode*>(node->_private); }

inline void setWrapper(xmlNode* node, CXMLNode* wrapper) { node->_private = wrapper; }

inline xmlNode* asNode(xmlDoc* doc) { return reinterpret_cast<xmlNode*>(doc); }
inline xmlNode* asNode(xmlAttr* attribute) { return reinterpret_cast<xmlNode*>(attribute); }
