#include "xml/XMLParserSetup.h"

#include <libxml/parserInternals.h>

#include <algorithm>
#include <mutex>

namespace {

// Whatever a document names (an external DTD, an external entity, a parameter entity), it
// gets nothing: no file is opened and no connection is made.
xmlParserInputPtr refuseExternalEntity(const char* /*url*/, const char* /*id*/,
                                       xmlParserCtxtPtr /*context*/) {
    return nullptr;
}

}  // namespace

void initXMLParser() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
}

bool parseInBlocks(xmlParserCtxt* context, std::string_view data) {
    constexpr std::size_t kBlock = 64 * 1024;
    for (std::size_t offset = 0; offset < data.size(); offset += kBlock) {
        const std::size_t length = std::min(kBlock, data.size() - offset);
        if (xmlParseChunk(context, data.data() + offset, static_cast<int>(length), 0) !=
                XML_ERR_OK &&
            (!context->wellFormed || context->disableSAX)) {
            break;
        }
    }
    xmlParseChunk(context, nullptr, 0, 1);
    return context->wellFormed != 0;
}
