#include "xml/EntityExpansionGuard.h"

#include <libxml/entities.h>
#include <libxml/xmlstring.h>

#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace xmlguard {

namespace {

class ExpansionCounter {
public:
    ExpansionCounter(xmlDoc* doc, std::uint64_t budget) : doc_(doc), limit_(budget + 1) {}

    // Sums over `list` and everything below it (attribute values included, without walking
    // into entity declarations). Text counts only inside entity content (countText); each
    // reference adds the size of its entity. Iterative, so a deep tree cannot overflow the
    // stack; stops as soon as the limit is reached.
    std::uint64_t walk(xmlNode* list, bool countText, int nesting) {
        std::uint64_t total = 0;
        std::vector<xmlNode*> pending{list};
        while (!pending.empty() && total < limit_) {
            xmlNode* node = pending.back();
            pending.pop_back();
            for (; node != nullptr && total < limit_; node = node->next) {
                switch (node->type) {
                    case XML_TEXT_NODE:
                    case XML_CDATA_SECTION_NODE:
                        if (countText) total = add(total, contentLength(node));
                        break;
                    case XML_ENTITY_REF_NODE: total = add(total, entitySize(node, nesting)); break;
                    case XML_ELEMENT_NODE:
                        pending.push_back(node->children);
                        for (xmlAttr* attribute = node->properties; attribute != nullptr;
                             attribute = attribute->next) {
                            pending.push_back(attribute->children);
                        }
                        break;
                    default:
                        // DTD, declarations, comments, processing instructions: no string value.
                        break;
                }
            }
        }
        return total;
    }

private:
    std::uint64_t entitySize(xmlNode* reference, int nesting) {
        // The same lookup the string value uses for its substitution.
        xmlEntity* entity = xmlGetDocEntity(doc_, reference->name);
        if (entity == nullptr) return 0;
        if (auto known = sizes_.find(entity); known != sizes_.end()) return known->second;
        // A reference loop or absurd nesting would expand without end.
        if (nesting >= kMaxEntityNesting || !expanding_.insert(entity).second) return limit_;
        const std::uint64_t size = walk(entity->children, true, nesting + 1);
        expanding_.erase(entity);
        sizes_.emplace(entity, size);
        return size;
    }

    static std::uint64_t contentLength(const xmlNode* node) {
        return node->content ? static_cast<std::uint64_t>(xmlStrlen(node->content)) : 0;
    }

    std::uint64_t add(std::uint64_t a, std::uint64_t b) const {
        return (b >= limit_ || a >= limit_ - b) ? limit_ : a + b;
    }

    xmlDoc* doc_;
    std::uint64_t limit_;
    std::unordered_map<const xmlEntity*, std::uint64_t> sizes_;
    std::unordered_set<const xmlEntity*> expanding_;
};

// A reference to an entity nobody declared expands to nothing, and predefined entities never
// stay in the tree as references: without declarations there is nothing to count, and a large
// feed need not be walked at all.
bool declaresEntities(const xmlDoc* doc) {
    return (doc->intSubset != nullptr && doc->intSubset->entities != nullptr) ||
           (doc->extSubset != nullptr && doc->extSubset->entities != nullptr);
}

}  // namespace

std::uint64_t entityExpansionBytes(xmlDoc* doc, std::uint64_t budget) {
    if (doc == nullptr || !declaresEntities(doc)) return 0;
    if (budget == std::numeric_limits<std::uint64_t>::max()) --budget;
    ExpansionCounter counter(doc, budget);
    return counter.walk(doc->children, false, 0);
}

}  // namespace xmlguard
