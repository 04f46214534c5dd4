#pragma once
// Bounds what internal entities can add to the string values of a parsed document.
//
// The model parses without substituting entities, so a reference stays in the tree as a node
// and is expanded only when something builds a string value: CXMLNode::stringValue, or an
// XPath string function through libxml2. libxml2 refuses the classic exponential bomb while
// parsing, but it accepts one large entity referenced many thousand times, which would make
// such a string value gigabytes long. A document is therefore checked once after parsing:
// the text that all its entity references could contribute, nested references included, must
// stay within a budget, or the document is refused like one that is not well formed.

#include <libxml/tree.h>

#include <cstdint>

namespace xmlguard {

// Feeds use no entities at all; a few megabytes of expansion is far beyond any honest use
// and far below what would hurt the app.
inline constexpr std::uint64_t kMaxEntityExpansionBytes = 4 * 1024 * 1024;

// Deeper nesting than this is refused outright (libxml2 itself stops at 40 while parsing).
inline constexpr int kMaxEntityNesting = 64;

// The number of bytes of text the entity references of `doc` would add to string values,
// capped at budget + 1 (so that a huge or cyclic expansion is never computed in full).
std::uint64_t entityExpansionBytes(xmlDoc* doc, std::uint64_t budget = kMaxEntityExpansionBytes);

inline bool entityExpansionWithinBudget(xmlDoc* doc,
                                        std::uint64_t budget = kMaxEntityExpansionBytes) {
    return entityExpansionBytes(doc, budget) <= budget;
}

}  // namespace xmlguard
