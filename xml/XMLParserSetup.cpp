#include "xml/XMLParserSetup.h"

#include <libxml/parserInternals.h>

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
