// Feeds arbitrary bytes to both ways of building the catalogue's lists: wherever the one-pass
// reader gives lists, the document model must give the very same ones and not fail.
//
//   build-fuzz/tests/fuzz/feeds/catalogue_lists_fuzzer -dict=tests/fuzz/xml/xml.dict \
//       corpus-dir tests/fuzz/feeds/seeds

#include "feeds/CatalogueLists.h"
#include "feeds/PlainFeedReader.h"
#include "xml/CXMLInternalInconsistencyException.h"

#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace {

void silentGeneric(void*, const char*, ...) {}
void silentStructured(void*, xmlError*) {}

void check(bool holds) {
    if (!holds) __builtin_trap();
}

void compare(std::string_view bytes, bool withAuthors) {
    const auto onePass = readPlainFeed(bytes, withAuthors);
    try {
        const CatalogueLists model = buildCatalogueListsFromDocument(bytes, withAuthors);
        if (onePass) {
            check(onePass->titls == model.titls);
            check(onePass->urls == model.urls);
            check(onePass->artists == model.artists);
        }
    } catch (const CXMLInternalInconsistencyException&) {
        check(!onePass);
    } catch (const std::runtime_error&) {  // a value the lists refuse as absent
        check(!onePass);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    xmlSetGenericErrorFunc(nullptr, silentGeneric);
    xmlSetStructuredErrorFunc(nullptr, silentStructured);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    compare(bytes, false);
    compare(bytes, true);
    return 0;
}
